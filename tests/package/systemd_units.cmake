# The backup's user units as systemd reads them (`systemd-analyze verify --user`), the service starting
# the program just built; a warning fails as an error does. Skipped without systemd-analyze.
# -DSOURCE_DIR (res/systemd), -DCLI (the built albumbrowser-cli), -DMANUAL (its manual page, which the
# units name), -DWORK (a folder of its own).
find_program(ANALYZE systemd-analyze)
if(NOT ANALYZE)
  message("systemd-analyze not found: skipped")
  return()
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/units ${WORK}/runtime ${WORK}/man/man1)
file(CHMOD ${WORK}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
get_filename_component(ALBUM_BINDIR ${CLI} DIRECTORY)
configure_file(${SOURCE_DIR}/albumbrowser-backup.service.in ${WORK}/units/albumbrowser-backup.service @ONLY)
configure_file(${SOURCE_DIR}/albumbrowser-backup.timer ${WORK}/units/albumbrowser-backup.timer COPYONLY)
# verify runs man for each Documentation= page; the package is not installed yet.
configure_file(${MANUAL} ${WORK}/man/man1/albumbrowser-cli.1 COPYONLY)
# The user manager's checks want a runtime folder of the user's own.
execute_process(COMMAND ${CMAKE_COMMAND} -E env XDG_RUNTIME_DIR=${WORK}/runtime MANPATH=${WORK}/man
                        ${ANALYZE} verify --user albumbrowser-backup.timer albumbrowser-backup.service
                WORKING_DIRECTORY ${WORK}/units RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(failed OR NOT said STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify:\n${said}")
endif()
