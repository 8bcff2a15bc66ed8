# README's first command, headless: tools/demo.sh --screenshot against its
# demo service, with its own Wine prefix and Xvfb. One case.
add_test(NAME e2e_demo COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/demo_e2e.py)
set_tests_properties(e2e_demo PROPERTIES ENVIRONMENT "${VERANDEL_TEST_ENV}" TIMEOUT 600)
