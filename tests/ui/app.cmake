# The launcher's application flow: the synchronisation passes and their
# reports, the server-status poller against nginx, and the window procedure.
verandel_add_checks(sync_threads_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_threads_checks.cpp
                    ${PROJECT_SOURCE_DIR}/tests/core/foundation_support.cpp LIBS verandel_ui)
verandel_add_checks(status_poller_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/status_poller_checks.cpp
                    LIBS verandel_ui SERVICE)
verandel_add_checks(wndproc_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/wndproc_checks.cpp
                    ${PROJECT_SOURCE_DIR}/tests/core/foundation_support.cpp LIBS verandel_ui)
