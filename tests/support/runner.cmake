# The console stand-in for the launcher's start-up worker, named as a live
# launcher; the end-to-end tests copy it into each game directory.
add_executable(sync_runner ${CMAKE_CURRENT_LIST_DIR}/sync_runner.cpp
               $<TARGET_OBJECTS:verandel_resources>)
set_target_properties(sync_runner PROPERTIES OUTPUT_NAME QVX_Launcher)
target_link_libraries(sync_runner PRIVATE verandel_ui)
