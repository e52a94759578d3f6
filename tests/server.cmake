# The private Firebird server of the tests (scripts/fbserver): started before the first test
# that needs it and stopped after the last one, whether they passed or not. The tests of an
# executable named *server_test need it; they read the port and the credentials from
# ${IBI_FBSERVER_DIR}/env and skip when it is missing (start exits 77 without the server
# package, which ctest reports as a skipped test).
set(IBI_FBSERVER_DIR ${CMAKE_BINARY_DIR}/fbserver)
add_test(NAME fbserver_start COMMAND ${CMAKE_SOURCE_DIR}/scripts/fbserver start ${IBI_FBSERVER_DIR})
add_test(NAME fbserver_stop COMMAND ${CMAKE_SOURCE_DIR}/scripts/fbserver stop ${IBI_FBSERVER_DIR})
set_tests_properties(fbserver_start PROPERTIES FIXTURES_SETUP fbserver SKIP_RETURN_CODE 77)
set_tests_properties(fbserver_stop PROPERTIES FIXTURES_CLEANUP fbserver)
