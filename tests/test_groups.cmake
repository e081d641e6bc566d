# Optional groups of tests, on where this machine has what they need. Configure prints a line a group (on,
# or off and what is missing) and keeps it in test_groups.txt for .ci/run; a group off is a disabled test
# untested.<group>, so that ctest's summary lists it beside "100% tests passed".
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/test_groups.txt "")
# test_group(GROUP MISSING [CHECK]): off, MISSING naming what to install, where the shell command CHECK
# fails; without CHECK, off unless MISSING is empty ("by choice ...": a setting turned it off).
function(test_group group missing)
  if(ARGN)
    execute_process(COMMAND sh -c "${ARGN}" RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(NOT failed)
      set(missing "")
    endif()
  endif()
  set(state on)
  if(missing MATCHES "^by choice")
    set(state "off ${missing}")
  elseif(missing)
    set(state "off, missing ${missing}")
  endif()
  if(missing)
    set_property(GLOBAL APPEND PROPERTY VENTRIM_GROUPS_OFF ${group})
    add_test(NAME untested.${group} COMMAND sh -c "echo '${group}: ${state}'; exit 1")
    set_tests_properties(untested.${group} PROPERTIES DISABLED TRUE)
  endif()
  message(STATUS "Ventrim test group ${group}: ${state}")
  file(APPEND ${CMAKE_CURRENT_BINARY_DIR}/test_groups.txt "${group}: ${state}\n")
endfunction()
