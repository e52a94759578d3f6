# Stand-ins for the client library: one exporting every entry point, one lacking isc_sqlcode.
foreach(variant full partial)
    add_library(fbstub_${variant} SHARED ${CMAKE_CURRENT_LIST_DIR}/fbstub.c)
endforeach()
target_compile_definitions(fbstub_partial PRIVATE IBI_STUB_LACKS_SQLCODE)
if(TARGET fbclientlib_test)
    add_dependencies(fbclientlib_test fbstub_full fbstub_partial)
    target_compile_definitions(fbclientlib_test PRIVATE
        IBI_FBSTUB_FULL="$<TARGET_FILE:fbstub_full>"
        IBI_FBSTUB_PARTIAL="$<TARGET_FILE:fbstub_partial>")
endif()
