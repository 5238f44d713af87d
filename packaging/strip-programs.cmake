# Run by CPack once the files to package are staged: strips every program in usr/bin, the
# private ones in usr/libexec and the Wireshark extcap as Debian's dh_strip does (debugging
# symbols and the .comment and .note sections go).
file(GLOB _programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/libexec/kalvessa100/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/lib/*/wireshark/extcap/*")
if(NOT _programs)
  message(FATAL_ERROR "strip-programs: nothing staged in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(_program IN LISTS _programs)
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note "${_program}"
                  RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "strip-programs: could not strip ${_program}")
  endif()
endforeach()
