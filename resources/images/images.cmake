# The window pictures are drawn at build time (make_images.sh) and embedded
# as RCDATA by launcher.rc; they are regenerated when the script changes.
find_program(VERANDEL_CONVERT convert REQUIRED)
set(VERANDEL_IMAGE_DIR ${CMAKE_CURRENT_BINARY_DIR}/images)
set(VERANDEL_IMAGES background.jpg logo.png crest.png website.png wiki.png discord.png
    account.png settings.png fix.png)
list(TRANSFORM VERANDEL_IMAGES PREPEND ${VERANDEL_IMAGE_DIR}/)
add_custom_command(OUTPUT ${VERANDEL_IMAGES}
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/make_images.sh ${VERANDEL_IMAGE_DIR}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_images.sh
  COMMENT "Drawing the window pictures"
  VERBATIM)
# As sources of the resource object they make the custom command run first;
# as object dependencies they make windres run again when they change.
target_sources(verandel_resources PRIVATE ${VERANDEL_IMAGES})
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/launcher.rc APPEND PROPERTY OBJECT_DEPENDS ${VERANDEL_IMAGES})
