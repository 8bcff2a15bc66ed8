# The start-up clean-up of old binaries, and its background thread in a copy
# of the check program named as a live launcher.
verandel_add_checks(old_binaries_checks SOURCES ${CMAKE_CURRENT_LIST_DIR}/old_binaries_checks.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/../core/foundation_support.cpp LIBS verandel_client)
