# The program that writes the TIFF fuzz target's seed corpus (a tool, not a test).
add_executable(tiffseeds ${CMAKE_CURRENT_LIST_DIR}/tiffseeds.cpp)
target_link_libraries(tiffseeds PRIVATE testsupport)
