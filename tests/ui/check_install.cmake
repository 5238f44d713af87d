# Installs the build into a scratch prefix and checks that a desktop finds the tool there: the
# program and the command-line tool on the path, the capture helper among the private programs;
# the desktop entry, metainfo and icons under one desktop id; the manual pages of both; the udev
# rule and the unit that apply declared settings to a tap plugged in.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DVERSION=... -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(id org.kalvessa.Kalvessa100)
set(program "${PREFIX}/bin/kalvessa100")
set(command_line "${PREFIX}/bin/kalvessa100ctl")
# Among the private programs, off the path: the one program that may carry the capture privilege.
set(helper "${PREFIX}/libexec/kalvessa100/kalvessa100-link")
set(entry "${PREFIX}/share/applications/${id}.desktop")
set(metainfo "${PREFIX}/share/metainfo/${id}.metainfo.xml")
set(icons "${PREFIX}/share/icons/hicolor")
foreach(f IN ITEMS "${program}" "${command_line}" "${helper}" "${entry}" "${metainfo}"
                   "${PREFIX}/share/man/man1/kalvessa100.1.gz"
                   "${PREFIX}/share/man/man1/kalvessa100ctl.1.gz"
                   "${icons}/48x48/apps/${id}.png" "${icons}/128x128/apps/${id}.png"
                   "${icons}/256x256/apps/${id}.png" "${icons}/scalable/apps/${id}.svg"
                   "${PREFIX}/lib/systemd/system/kalvessa100-apply@.service"
                   "${PREFIX}/lib/udev/rules.d/85-kalvessa100-apply.rules")
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
foreach(p IN ITEMS "${program}" "${command_line}" "${helper}")
  file(READ "${p}" magic LIMIT 4 HEX)
  execute_process(COMMAND test -x "${p}" RESULT_VARIABLE not_executable)
  if(NOT magic STREQUAL "7f454c46" OR NOT not_executable EQUAL 0)
    message(FATAL_ERROR "not an executable program: ${p}")
  endif()
endforeach()

file(STRINGS "${entry}" lines)
foreach(key IN ITEMS "Type=Application" "Exec=kalvessa100" "Icon=${id}" "Name=Kalvessa 100")
  list(FIND lines "${key}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "desktop entry lacks ${key}")
  endif()
endforeach()
list(GET lines 0 first)
if(NOT first STREQUAL "[Desktop Entry]")
  message(FATAL_ERROR "desktop entry does not start with its group header")
endif()

# The metainfo names the entry, and its newest release is the version being built.
file(READ "${metainfo}" xml)
string(REGEX MATCH "<release version=\"([^\"]*)\"" newest "${xml}")
set(newest "${CMAKE_MATCH_1}")
if(NOT xml MATCHES "<launchable type=\"desktop-id\">${id}.desktop</launchable>"
   OR NOT newest STREQUAL "${VERSION}")
  message(FATAL_ERROR "metainfo lacks the desktop id, or its newest release is not ${VERSION}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
