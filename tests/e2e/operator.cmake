# Whole synchronisations with documents written on Windows and repairs cut
# short: the console runner under Wine against nginx and the fault server.
foreach(scenario WindowsDocument InterruptedRepair)
  string(TOLOWER ${scenario} name)
  add_test(NAME e2e_${name}
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/operator_e2e.py $<TARGET_FILE:sync_runner>
                   ${scenario}Scenario)
  set_tests_properties(e2e_${name} PROPERTIES FIXTURES_REQUIRED wine
                       ENVIRONMENT "${VERANDEL_TEST_ENV}" TIMEOUT 600)
endforeach()
