# Whole synchronisations: the console runner in a fresh game directory under
# Wine, against nginx. One ctest test per scenario class.
foreach(scenario Validation FullClient Patch SelfUpdate Fault)
  string(TOLOWER ${scenario} name)
  add_test(NAME e2e_${name}
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/sync_e2e.py $<TARGET_FILE:sync_runner>
                   ${scenario}Scenario)
  set_tests_properties(e2e_${name} PROPERTIES FIXTURES_REQUIRED wine
                       ENVIRONMENT "${VERANDEL_TEST_ENV};VERANDEL_STANDIN=$<TARGET_FILE:standin_client>"
                       TIMEOUT 600)
endforeach()
