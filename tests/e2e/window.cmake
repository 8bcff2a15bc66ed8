# The real launcher with its window under Xvfb (started by the script on a
# display of its own), against nginx. One ctest test per scenario class.
foreach(scenario LiveWindow TestLauncherWindow)
  string(TOLOWER ${scenario} name)
  add_test(NAME e2e_${name}
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/window_e2e.py $<TARGET_FILE:verandel_launcher>
                   ${scenario}Scenario)
  set_tests_properties(e2e_${name} PROPERTIES FIXTURES_REQUIRED wine
                       ENVIRONMENT "${VERANDEL_TEST_ENV}" TIMEOUT 600)
endforeach()
