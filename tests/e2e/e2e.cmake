# The end-to-end scripts: each scenario class of a script is one ctest test
# e2e_<scenario in lower case>, run under Wine against nginx and the fault server.
function(verandel_add_scenarios script program)
  foreach(scenario ${ARGN})
    string(TOLOWER ${scenario} name)
    add_test(NAME e2e_${name}
             COMMAND python3 ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${script} $<TARGET_FILE:${program}>
                     ${scenario}Scenario)
    set_tests_properties(e2e_${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600
                         ENVIRONMENT "${VERANDEL_TEST_ENV};VERANDEL_STANDIN=$<TARGET_FILE:standin_client>")
  endforeach()
endfunction()

# Whole synchronisations: the console runner in fresh game directories.
verandel_add_scenarios(sync_e2e.py sync_runner Validation FullClient Patch SelfUpdate Fault)
# Documents written on Windows, repairs cut short, tar patches with long names,
# hosts that stay silent, and game folders with names beyond plain letters.
verandel_add_scenarios(operator_e2e.py sync_runner WindowsDocument InterruptedRepair)
verandel_add_scenarios(tar_patch_e2e.py sync_runner TarPatch)
verandel_add_scenarios(stall_e2e.py sync_runner Stall)
verandel_add_scenarios(folder_e2e.py sync_runner Folder)
# The real launcher with its window under Xvfb (started by the script on a
# display of its own).
verandel_add_scenarios(window_e2e.py verandel_launcher LiveWindow TestLauncherWindow)
