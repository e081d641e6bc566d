# Makes the Debian package from a built tree and checks what it holds, and
# that the man page renders without warnings.
#   cmake -DVENTRIM_BUILD_DIR=<dir> -DVENTRIM_SOURCE_DIR=<dir> -DWORK_DIR=<dir> -P package_test.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND cpack -G DEB --config "${VENTRIM_BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB deb "${WORK_DIR}/*.deb")
if(NOT rc EQUAL 0 OR NOT deb)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}")
endif()

execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE contents COMMAND_ERROR_IS_FATAL ANY)
foreach(path ./usr/bin/ventrim ./usr/share/man/man1/ventrim.1 ./usr/lib/cmake/Ventrim/VentrimConfig.cmake
             ./usr/lib/cmake/Ventrim/VentrimConfigVersion.cmake ./usr/lib/cmake/Ventrim/VentrimTargets.cmake
             ./usr/lib/cmake/Ventrim/VentrimStamp.cmake)
  string(FIND "${contents}" " ${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package lacks ${path}:\n${contents}")
  endif()
endforeach()
execute_process(COMMAND dpkg-deb -f ${deb} Package Version Depends OUTPUT_VARIABLE fields COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "${fields}")

execute_process(COMMAND groff -man -ww -z "${VENTRIM_SOURCE_DIR}/docs/ventrim.1"
                RESULT_VARIABLE rc ERROR_VARIABLE warnings)
if(NOT rc EQUAL 0 OR warnings)
  message(FATAL_ERROR "the man page does not render cleanly:\n${warnings}")
endif()
