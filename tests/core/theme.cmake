verandel_add_checks(theme_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/theme_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/foundation_support.cpp)
