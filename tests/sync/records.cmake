# Integrity cache, patched-file records and the patch level's start value.
verandel_add_checks(records_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp LIBS verandel_sync)
