# The play actions and the graphics fix, each run in a copy of its check
# program inside a scratch game directory (its own launcher.log, a scratch key
# as HKEY_CURRENT_USER, message boxes recorded and answered). The play checks
# read the prefix's process list and start the stand-in client, so they run alone.
set(ACTION_CHECK_SUPPORT ${CMAKE_CURRENT_LIST_DIR}/action_boxes.cpp ${CMAKE_CURRENT_LIST_DIR}/client_prep_support.cpp
    ${PROJECT_SOURCE_DIR}/tests/core/foundation_support.cpp)
verandel_add_checks(play_checks
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/play_checks.cpp ${CMAKE_CURRENT_LIST_DIR}/spawn_fixture.cpp
            ${ACTION_CHECK_SUPPORT}
    LIBS verandel_client)
target_compile_definitions(play_checks PRIVATE VERANDEL_STANDIN_PATH="$<TARGET_FILE:standin_client>")
add_dependencies(play_checks standin_client)
set_tests_properties(play_checks PROPERTIES RUN_SERIAL TRUE)
verandel_add_checks(graphics_fix_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/graphics_fix_checks.cpp
                    ${ACTION_CHECK_SUPPORT} LIBS verandel_client)
