# Builds the consumer project twice against Ventrim and checks that the second
# build carries a new stamp, no earlier than the first.
#   cmake -DMODE=install|subdir -DGENERATOR=<gen> -DVENTRIM_BUILD_DIR=<dir>
#         -DVENTRIM_SOURCE_DIR=<dir> -DWORK_DIR=<dir> -P consumer_test.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(use_ventrim "-DVENTRIM_SOURCE_DIR=${VENTRIM_SOURCE_DIR}")
if(MODE STREQUAL "install")
  run("${CMAKE_COMMAND}" --install "${VENTRIM_BUILD_DIR}" --prefix "${WORK_DIR}/prefix")
  set(use_ventrim "-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix")
endif()
run("${CMAKE_COMMAND}" -S "${VENTRIM_SOURCE_DIR}/tests/consumer" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    ${use_ventrim})

foreach(n 1 2)
  run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
  run("${WORK_DIR}/build/consumer")
  if(NOT out MATCHES "guid=([^\n]+)\nint=([^\n]+)\ndate=.+\nuser=")
    message(FATAL_ERROR "no stamp in the consumer's output")
  endif()
  set(guid${n} "${CMAKE_MATCH_1}")
  set(int${n} "${CMAKE_MATCH_2}")
endforeach()
if(guid1 STREQUAL guid2 OR int2 LESS int1)
  message(FATAL_ERROR "the second stamp (${guid2}, ${int2}) is not newer than the first (${guid1}, ${int1})")
endif()
