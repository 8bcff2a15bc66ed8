verandel_add_checks(http_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_checks.cpp SERVICE TIMEOUT 180)
verandel_add_checks(checksum_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/checksum_checks.cpp TIMEOUT 180)
