# The console runner in game folders with non-ASCII names, under a locale that
# fixes the system code page.
add_test(NAME e2e_folder
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/folder_e2e.py $<TARGET_FILE:sync_runner> FolderScenario)
set_tests_properties(e2e_folder PROPERTIES FIXTURES_REQUIRED wine
                     ENVIRONMENT "${VERANDEL_TEST_ENV}" TIMEOUT 300)
