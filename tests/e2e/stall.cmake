# Whole synchronisations against a host that accepts and stays silent: the
# console runner with its time-outs shortened, against nginx and the fault server.
add_test(NAME e2e_stall
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/stall_e2e.py $<TARGET_FILE:sync_runner> StallScenario)
set_tests_properties(e2e_stall PROPERTIES FIXTURES_REQUIRED wine
                     ENVIRONMENT "${VERANDEL_TEST_ENV}" TIMEOUT 600)
