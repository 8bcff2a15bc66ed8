verandel_add_checks(safe_path_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/safe_path_checks.cpp)
