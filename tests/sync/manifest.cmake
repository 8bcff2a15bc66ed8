verandel_add_checks(manifest_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/manifest_checks.cpp LIBS verandel_sync)
