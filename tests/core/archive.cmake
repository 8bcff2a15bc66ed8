# Archives for the extraction checks are made at test time by real tools.
set(VERANDEL_ARCHIVE_FIXTURES ${CMAKE_CURRENT_BINARY_DIR}/archive_fixtures)
add_test(NAME archive_fixtures
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/../support/make_archives.py ${VERANDEL_ARCHIVE_FIXTURES})
set_tests_properties(archive_fixtures PROPERTIES FIXTURES_SETUP archive_fixtures TIMEOUT 120)

verandel_add_checks(archive_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/archive_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/rgz_format_checks.cpp)
set_tests_properties(archive_checks PROPERTIES FIXTURES_REQUIRED "wine;archive_fixtures"
                     ENVIRONMENT "${VERANDEL_TEST_ENV};VERANDEL_ARCHIVE_FIXTURES=${VERANDEL_ARCHIVE_FIXTURES}")
