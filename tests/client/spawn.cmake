# The client spawner, the running-client check and the setup action. The
# checks run copies of themselves in scratch game directories with the
# stand-in client. They read the prefix's whole process list and time a
# half-second watch, so they run alone.
verandel_add_checks(spawner_checks
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/spawner_checks.cpp ${CMAKE_CURRENT_LIST_DIR}/running_setup_checks.cpp
            ${CMAKE_CURRENT_LIST_DIR}/spawn_fixture.cpp ${CMAKE_CURRENT_LIST_DIR}/spawn_child.cpp
            ${PROJECT_SOURCE_DIR}/tests/core/foundation_support.cpp
    LIBS verandel_client)
target_compile_definitions(spawner_checks PRIVATE VERANDEL_STANDIN_PATH="$<TARGET_FILE:standin_client>")
add_dependencies(spawner_checks standin_client)
set_tests_properties(spawner_checks PROPERTIES RUN_SERIAL TRUE)
