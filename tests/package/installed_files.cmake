# Installs the build into a folder of its own (DESTDIR, prefix /usr/local) and checks that it holds
# exactly the files a package should, each whole, that the menu entry starts an installed program with
# an installed icon, that the backup service starts the installed program, and that the programs are
# hardened when the build is.
# -DBUILD_DIR, -DROOT (emptied first), -DGUI (whether the desktop program is built).
file(REMOVE_RECURSE ${ROOT})
set(ENV{DESTDIR} ${ROOT})
set(prefix /usr/local)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} OUTPUT_QUIET
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmake --install failed")
endif()

# systemd reads user units of packages from /usr/lib/systemd/user only, whatever the prefix.
set(expected usr/lib/systemd/user/albumbrowser-backup.service usr/lib/systemd/user/albumbrowser-backup.timer)
set(under_prefix bin/albumbrowser-cli lib/albumbrowser/albumbrowser-vips.so share/man/man1/albumbrowser-cli.1.gz)
if(GUI)
  list(APPEND under_prefix bin/albumbrowser share/applications/albumbrowser.desktop
       share/albumbrowser/skin/default.u3 share/icons/hicolor/scalable/apps/albumbrowser.svg
       share/man/man1/albumbrowser.1.gz)
  foreach(size IN ITEMS 16 32 48 64 128 256)
    list(APPEND under_prefix share/icons/hicolor/${size}x${size}/apps/albumbrowser.png)
  endforeach()
endif()
list(TRANSFORM under_prefix PREPEND usr/local/)
list(APPEND expected ${under_prefix})
file(GLOB_RECURSE installed RELATIVE ${ROOT} ${ROOT}/*)
list(SORT expected)
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()

foreach(file IN LISTS installed)
  if(file MATCHES "\\.gz$")
    execute_process(COMMAND gzip -t ${ROOT}/${file} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${file} is not a whole gzip file")
    endif()
  elseif(file MATCHES "/([0-9]+)x[0-9]+/.*\\.png$")
    # A theme takes the folder's size for the picture's.
    set(size ${CMAKE_MATCH_1})
    file(READ ${ROOT}/${file} width OFFSET 16 LIMIT 4 HEX)
    math(EXPR width "0x${width}")
    if(NOT width EQUAL size)
      message(FATAL_ERROR "${file} is ${width} pixels wide")
    endif()
  endif()
endforeach()

set(installed_prefix ${ROOT}${prefix})
if(GUI)
  file(STRINGS ${installed_prefix}/share/applications/albumbrowser.desktop exec REGEX "^Exec=")
  file(STRINGS ${installed_prefix}/share/applications/albumbrowser.desktop icon REGEX "^Icon=")
  string(REGEX REPLACE "^Exec=([^ ]+).*" "\\1" exec "${exec}")
  string(REGEX REPLACE "^Icon=" "" icon "${icon}")
  if(NOT EXISTS ${installed_prefix}/bin/${exec}
     OR NOT EXISTS ${installed_prefix}/share/icons/hicolor/48x48/apps/${icon}.png)
    message(FATAL_ERROR "the menu entry starts '${exec}' with the icon '${icon}': not both installed")
  endif()
endif()
file(STRINGS ${ROOT}/usr/lib/systemd/user/albumbrowser-backup.service exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${prefix}/bin/albumbrowser-cli update --all --quiet")
  message(FATAL_ERROR "the backup service starts '${exec}', not the installed program")
endif()

# A build with Debian's hardening installs hardened programs.
file(STRINGS ${BUILD_DIR}/CMakeCache.txt hardening REGEX "^ALBUM_HARDENING:BOOL=ON$")
if(hardening)
  set(programs ${installed_prefix}/bin/albumbrowser-cli)
  if(GUI)
    list(APPEND programs ${installed_prefix}/bin/albumbrowser)
  endif()
  include(${CMAKE_CURRENT_LIST_DIR}/hardening.cmake)
endif()
