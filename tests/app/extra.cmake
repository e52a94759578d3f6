# Tests that run the program itself need it built first.
foreach(test main_test stopsignals_test enginesetup_test importkill_test importrerun_test importserver_test)
    if(TARGET ${test} AND TARGET images-by-id)
        add_dependencies(${test} images-by-id)
    endif()
endforeach()
