# Season profile synchronisation against nginx.
verandel_add_checks(season_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/season_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp LIBS verandel_sync SERVICE)
# Its own folder, so its launcher.log holds only its own lines: other programs
# log Season texts too while ctest runs them side by side.
set_target_properties(season_checks PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/season_checks)
