# The test launcher's stray-file clean-up on real folders under Wine.
verandel_add_checks(cleanup_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/cleanup_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp LIBS verandel_sync)
# Its own folder, so the clean-up lines in its launcher.log are only its own.
set_target_properties(cleanup_checks PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/cleanup_checks)
