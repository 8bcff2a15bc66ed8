# Client preparation: the pure option-file rules, and the file, profile and
# directory steps, each run in a copy of its check program inside a scratch
# game directory (its own launcher.log, and a scratch key as HKEY_CURRENT_USER).
set(CLIENT_PREP_SUPPORT ${CMAKE_CURRENT_LIST_DIR}/client_prep_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp)
verandel_add_checks(option_info_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/option_info_checks.cpp LIBS verandel_client)
verandel_add_checks(client_files_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_files_checks.cpp
                    ${CLIENT_PREP_SUPPORT} LIBS verandel_client)
verandel_add_checks(realm_profile_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/realm_profile_checks.cpp
                    ${CLIENT_PREP_SUPPORT} LIBS verandel_client)
verandel_add_checks(client_dir_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_dir_checks.cpp
                    ${CLIENT_PREP_SUPPORT} LIBS verandel_client)
