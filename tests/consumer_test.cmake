# A row of the consumer matrix (tests/CMakeLists.txt), whose fields say what
# they change; ENV and ARGS take | between values.
cmake_minimum_required(VERSION 3.20)
function(expect what)
  if(NOT (${ARGN}))
    message(FATAL_ERROR "${what}: ${ARGN}")
  endif()
endfunction()
macro(run)  # only a refusal may fail
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  expect("failed (${rc}): ${ARGN}\n${out}" rc EQUAL 0 OR REFUSE)
endmacro()

# stamp(<program> <var>): all the program prints; without a C runtime (EXIT),
# its header's GUID, whose first byte is its exit status, and a text.
function(stamp program var)
  if(NOT EXIT)
    run(${WINE} "${bin}/${program}${suffix}")
    expect("${program} prints no stamp" out MATCHES "^guid=[0-9A-F]+\r?\nint=[0-9]+\r?\ndate=.+\nuser=.+\ntext=.+\nmore=.")
    set(${var} "${out}" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${WINE} "${bin}/${program}${suffix}" RESULT_VARIABLE status)
  string(REGEX REPLACE "ed(_too)?$" "_stamp" header "${program}")
  file(STRINGS "${build}/${header}/build_stamp.h" guid REGEX "CODE_GUID")
  string(REGEX MATCH "{0x(..)" first "${guid}")
  math(EXPR first "0x${CMAKE_MATCH_1}")
  file(GLOB image "${bin}/core.dll" "${bin}/linked.exe")
  list(GET image 0 image)
  file(STRINGS "${image}" text REGEX "^(first|second)$")
  expect("${program} exits with ${status}, not with its stamp's ${first}" status EQUAL first)
  set(${var} "${guid} text=${text}" PARENT_SCOPE)
endfunction()

string(REPLACE "|" ";" ENV "${ENV}")
string(REPLACE "|" ";" ARGS "${ARGS}")
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
set(use_ventrim "-DUSE_VENTRIM=add_subdirectory(${VENTRIM_SOURCE_DIR} ventrim)")
if(MODE STREQUAL "install")
  run("${CMAKE_COMMAND}" --install "${VENTRIM_BUILD_DIR}" --prefix "${prefix}")
  set(use_ventrim "-DUSE_VENTRIM=find_package(Ventrim 1.0 REQUIRED)" "-DCMAKE_PREFIX_PATH=${prefix}")
endif()
list(APPEND use_ventrim -DKIND=${KIND} -DREFUSE=${REFUSE} -DCMAKE_EXPORT_COMPILE_COMMANDS=ON ${ARGS})
if(TOOLCHAIN)  # which finds packages only for the target: Ventrim is named
  list(APPEND use_ventrim --toolchain "${TOOLCHAIN}" "-DVentrim_DIR=${prefix}/lib/cmake/Ventrim")
  set(suffix .exe)
endif()
set(env "${CMAKE_COMMAND}" -E env "CCACHE_DIR=${WORK_DIR}/ccache" ${ENV})
# A copy of the project, whose sources the test may touch.
file(COPY "${VENTRIM_SOURCE_DIR}/tests/consumer/" DESTINATION "${WORK_DIR}/src")
set(split UNIX_COMMAND)
if(EXIT)  # cl's response file is split as Windows splits a command line
  set(split WINDOWS_COMMAND)
  file(READ "${WORK_DIR}/src/win_main.c" main)
  file(WRITE "${WORK_DIR}/src/linked.c" "${main}")
  file(WRITE "${WORK_DIR}/src/core.c" "#define core_c\n${main}")
endif()
set(build "${WORK_DIR}/build")
set(bin "${build}")
if(GENERATOR MATCHES "Multi-Config")  # Release; Debug too where said
  set(bin "${build}/Release")
  set(config --config Release)
endif()
run(${env} "${CMAKE_COMMAND}" -S "${WORK_DIR}/src" -B "${build}" -G "${GENERATOR}" ${use_ventrim})
if(REFUSE)
  string(REGEX REPLACE "[ \n]+" " " out "${out}")
  expect("the configuration did not stop with '${EXPECT}': ${out}" NOT rc EQUAL 0 AND out MATCHES "${EXPECT}")
  return()
endif()

if(REPRODUCIBLE)  # in another folder with a copy of the installed Ventrim
  set(ENV{SOURCE_DATE_EPOCH} 1700000000)
  run("${CMAKE_COMMAND}" --build "${build}")
  run(mktemp -d -t ventrim-consumer-XXXXXX)
  string(STRIP "${out}" other)
  file(COPY "${WORK_DIR}/src" "${prefix}" "${build}/linked" "${build}/headed" DESTINATION "${other}")
  list(TRANSFORM use_ventrim REPLACE "^(-DCMAKE_PREFIX_PATH=).*" "\\1${other}/prefix")
  execute_process(COMMAND chown -R 65534:65534 "${other}" RESULT_VARIABLE not_root ERROR_QUIET)
  if(NOT not_root)
    set(as setpriv --reuid=65534 --regid=65534 --clear-groups)
  endif()
  execute_process(COMMAND ${as} sh -c "\"$0\" -S src -B again \"$@\" && \"$0\" --build again && cmp linked again/linked && cmp headed again/headed"
    "${CMAKE_COMMAND}" -G "${GENERATOR}" ${use_ventrim} WORKING_DIRECTORY "${other}" RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  file(REMOVE_RECURSE "${other}")
  expect("the second build failed or differs: ${log}" rc EQUAL 0)
  return()
endif()

run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config})
if(TOOLCHAIN AND NOT WINE)  # built, not run
  return()
endif()
stamp(linked linked1)
stamp(headed headed1)
stamp(headed_too headed_too1)
expect("one header, one stamp" headed1 STREQUAL headed_too1)

# The stamp's response file has every argument CMake gave the stamped
# target's core.c (Release's under a multi-config generator) but the
# compiler, the source, the object and the dependency options.
file(STRINGS "${build}/compile_commands.json" command REGEX "\"command\".*(linked|core)\\.dir[/\\\\]+(Release/)?core\\.c\\.o")
string(REGEX REPLACE "^ *\"command\": \"(.*)\",$" "\\1" command "${command}")
string(REPLACE "\\\\" "\\" command "${command}")
string(REPLACE "\\\"" "\"" command "${command}")
separate_arguments(command UNIX_COMMAND "${command}")
list(POP_FRONT command)
list(FILTER command EXCLUDE REGEX "^(-M[DTF]|-[oc]|--|/nologo|/F[od].*|g\\+*c*)$|^CMakeFiles|/core.c$")
file(GLOB_RECURSE rsp "${build}/stamp.rsp")  # the only one yet
file(READ "${rsp}" stamp_args)
separate_arguments(stamp_args ${split} "${stamp_args}")
foreach(arg IN LISTS command)
  expect("the stamp was compiled without ${arg}" arg IN_LIST stamp_args)
endforeach()

# Nothing changed: the linked program is not linked again.
run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config} --target linked)
expect("a build with nothing to do did something: ${out}"
  out MATCHES "no work to do" OR (NOT GENERATOR MATCHES "Ninja" AND NOT out MATCHES "Linking"))
# Each configuration's link stamp its own; the header stamped afresh on
# every build, the link stamp only as the target links.
if(config)
  run(${env} "${CMAKE_COMMAND}" --build "${build}" --config Debug)
  stamp(../Debug/linked debug)
  expect("Debug and Release share a link stamp" NOT debug STREQUAL linked1)
endif()
run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config})
stamp(linked linked2)
stamp(headed headed2)
expect("the linked stamp changed without a link" linked1 STREQUAL linked2)
expect("the header was not stamped afresh" NOT headed1 STREQUAL headed2)
# An edited stamp source links the target again, with a fresh stamp.
file(READ "${WORK_DIR}/src/stamp.c" text)
string(REPLACE "\"first\"" "\"second\"" text "${text}")
file(WRITE "${WORK_DIR}/src/stamp.c" "${text}")
run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config})
stamp(linked linked3)
string(REGEX REPLACE "text=.*" "" stamp2 "${linked2}")
string(FIND "${linked3}" "${stamp2}" kept)
expect("the edited stamp source did not link the program again with a fresh stamp" linked3 MATCHES "text=second" AND kept EQUAL -1)
# Installing right after a build copies what was built, and no part of
# Ventrim (which is not among the built files here).
run("${CMAKE_COMMAND}" --install "${build}" ${config} --prefix "${WORK_DIR}/installed")
file(GLOB_RECURSE files "${WORK_DIR}/installed/*")
foreach(file IN LISTS files)
  cmake_path(GET file FILENAME name)
  run("${CMAKE_COMMAND}" -E compare_files "${file}" "${bin}/${name}")
endforeach()
