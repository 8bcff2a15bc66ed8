# Patches of tar archives with long names, by GNU tar, ustar and Python's
# tarfile, each installed by a whole synchronisation.
add_test(NAME e2e_tarpatch
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/tar_patch_e2e.py $<TARGET_FILE:sync_runner> TarPatchScenario)
set_tests_properties(e2e_tarpatch PROPERTIES FIXTURES_REQUIRED wine
                     ENVIRONMENT "${VERANDEL_TEST_ENV};VERANDEL_STANDIN=$<TARGET_FILE:standin_client>"
                     TIMEOUT 600)
