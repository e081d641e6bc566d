# The optional groups of tests, each on where this machine has what it needs. Configure prints a line a
# group (on, or off and what is missing), ctest lists a disabled test untested.<group> for each group off,
# so that "100% passed" never hides one, and test_groups.txt keeps the lines for .ci/run.
set(test_groups_file ${CMAKE_CURRENT_BINARY_DIR}/test_groups.txt)
file(WRITE ${test_groups_file} "")
set_property(GLOBAL PROPERTY VENTRIM_GROUPS_OFF "")

# test_group_state(GROUP MISSING): on with MISSING empty; else off, MISSING saying what to install (or,
# beginning "by choice", which setting turned it off).
function(test_group_state group missing)
  if(missing STREQUAL "")
    set(state on)
  else()
    set_property(GLOBAL APPEND PROPERTY VENTRIM_GROUPS_OFF ${group})
    set(state "off, missing ${missing}")
    if(missing MATCHES "^by choice")
      set(state "off ${missing}")
    endif()
    add_test(NAME untested.${group} COMMAND sh -c "echo '${group}: ${state}'; exit 1")
    set_tests_properties(untested.${group} PROPERTIES DISABLED TRUE)
  endif()
  message(STATUS "Ventrim test group ${group}: ${state}")
  file(APPEND ${test_groups_file} "${group}: ${state}\n")
endfunction()

# test_group(GROUP WHAT CHECK): on where the shell command CHECK succeeds, else missing WHAT.
function(test_group group what check)
  execute_process(COMMAND sh -c "${check}" RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(failed)
    test_group_state(${group} "${what}")
  else()
    test_group_state(${group} "")
  endif()
endfunction()
