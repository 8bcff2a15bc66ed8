# The window model (buttons, hover, readiness, images) and its painting.
# The model's checks need real windows, so they run on a private Xvfb display.
add_executable(window_model_checks ${CMAKE_CURRENT_LIST_DIR}/window_model_checks.cpp
               ${CMAKE_CURRENT_LIST_DIR}/ui_support.cpp ${PROJECT_SOURCE_DIR}/tests/core/foundation_support.cpp
               $<TARGET_OBJECTS:verandel_resources>)
target_link_libraries(window_model_checks PRIVATE verandel_ui verandel_core gtest gtest_main)
target_include_directories(window_model_checks PRIVATE ${PROJECT_SOURCE_DIR}/tests)
# In a prefix of their own, which the script ends before it ends the display:
# Wine's desktop process outlives the program and must not outlive the test.
add_test(NAME window_model_checks COMMAND ${CMAKE_CURRENT_LIST_DIR}/xvfb_run.sh $<TARGET_FILE:window_model_checks>)
set_tests_properties(window_model_checks PROPERTIES TIMEOUT 300 ENVIRONMENT
                     "${VERANDEL_TEST_ENV};VERANDEL_WINDOW_PREFIX=${CMAKE_CURRENT_BINARY_DIR}/window_model_checks.wineprefix")


verandel_add_checks(painting_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/painting_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/ui_support.cpp ${PROJECT_SOURCE_DIR}/tests/core/foundation_support.cpp
                    LIBS verandel_ui)
