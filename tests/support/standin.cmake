# The stand-in game client (tests/support/standin_client.cpp). A GUI-subsystem
# program, so that one left running holds no console or output pipe of ctest.
add_executable(standin_client ${CMAKE_CURRENT_LIST_DIR}/standin_client.cpp)
target_link_options(standin_client PRIVATE -mwindows)
