# Patch list and patch downloads against nginx and the fault server.
verandel_add_checks(patch_list_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/patch_list_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp LIBS verandel_sync SERVICE)
