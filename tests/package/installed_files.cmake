# Installs the build into a folder of its own and checks that it holds exactly the files a package
# should, each whole, that the menu entry starts an installed program with an installed icon, and that
# the programs are hardened when the build is.
# -DBUILD_DIR, -DROOT (emptied first), -DGUI (whether the desktop program is built).
file(REMOVE_RECURSE ${ROOT})
set(ENV{DESTDIR} "")
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${ROOT} OUTPUT_QUIET
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmake --install failed")
endif()

set(expected bin/albumbrowser-cli share/man/man1/albumbrowser-cli.1.gz)
if(GUI)
  list(APPEND expected bin/albumbrowser share/applications/albumbrowser.desktop
       share/albumbrowser/skin/default.u3 share/icons/hicolor/scalable/apps/albumbrowser.svg
       share/man/man1/albumbrowser.1.gz)
  foreach(size IN ITEMS 16 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/albumbrowser.png)
  endforeach()
endif()
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

if(GUI)
  file(STRINGS ${ROOT}/share/applications/albumbrowser.desktop exec REGEX "^Exec=")
  file(STRINGS ${ROOT}/share/applications/albumbrowser.desktop icon REGEX "^Icon=")
  string(REGEX REPLACE "^Exec=([^ ]+).*" "\\1" exec "${exec}")
  string(REGEX REPLACE "^Icon=" "" icon "${icon}")
  if(NOT EXISTS ${ROOT}/bin/${exec} OR NOT EXISTS ${ROOT}/share/icons/hicolor/48x48/apps/${icon}.png)
    message(FATAL_ERROR "the menu entry starts '${exec}' with the icon '${icon}': not both installed")
  endif()
endif()

# A build with Debian's hardening installs hardened programs.
file(STRINGS ${BUILD_DIR}/CMakeCache.txt hardening REGEX "^ALBUM_HARDENING:BOOL=ON$")
if(hardening)
  set(programs ${ROOT}/bin/albumbrowser-cli)
  if(GUI)
    list(APPEND programs ${ROOT}/bin/albumbrowser)
  endif()
  include(${CMAKE_CURRENT_LIST_DIR}/hardening.cmake)
endif()
