verandel_add_checks(sync_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_checks.cpp LIBS verandel_sync)
