# Season profile synchronisation against nginx.
verandel_add_checks(season_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/season_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp LIBS verandel_sync SERVICE)
