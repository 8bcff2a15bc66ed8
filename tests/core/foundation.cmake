# Identity, log, configuration and file operations. Several checks run copies
# of their own program under chosen names (test launcher, ".old" copy).
set(FOUNDATION_SUPPORT ${CMAKE_CURRENT_LIST_DIR}/foundation_support.cpp)
verandel_add_checks(identity_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/identity_checks.cpp ${FOUNDATION_SUPPORT})
verandel_add_checks(log_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_checks.cpp ${FOUNDATION_SUPPORT})
verandel_add_checks(config_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/config_checks.cpp ${FOUNDATION_SUPPORT})
verandel_add_checks(files_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/files_checks.cpp ${FOUNDATION_SUPPORT})
