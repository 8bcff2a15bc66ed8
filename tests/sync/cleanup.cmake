# The test launcher's stray-file clean-up on real folders under Wine.
verandel_add_checks(cleanup_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/cleanup_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp LIBS verandel_sync)
