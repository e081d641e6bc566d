# One row of the consumer matrix: the project in tests/consumer built against
# Ventrim installed (MODE install) or added from source (MODE subdir), with
# KIND its link-stamped target. A row configures it (REFUSE: must fail with
# EXPECT), builds, checks what the programs print, that the stamp was compiled
# with every argument CMake gave the target's own source, that a second build
# does nothing, that an edit of the stamp source and a relink stamp afresh, and
# that install copies what was built and nothing of Ventrim. With TOOLCHAIN a
# cross build, run under WINE when given; with REPRODUCIBLE two builds with
# one SOURCE_DATE_EPOCH, the second elsewhere and (as root) as another user.
# ENV holds VAR=value pairs for the build, ARGS more configure arguments,
# each separated by |.
#   cmake -DMODE=install|subdir -DGENERATOR=<gen> -DKIND=exe|static|shared|module -DVENTRIM_BUILD_DIR=<dir>
#         -DVENTRIM_SOURCE_DIR=<dir> -DWORK_DIR=<dir> [-DREFUSE=<case> -DEXPECT=<regex>] [-DTOOLCHAIN=<file> [-DWINE=<wine>]]
#         [-DREPRODUCIBLE=ON] [-DENV=<list>] [-DARGS=<list>] -P consumer_test.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# stamp(<program> <var>): the stamp the program prints.
function(stamp program var)
  run(${WINE} "${bin}/${program}${suffix}")
  if(NOT out MATCHES "guid=([0-9A-F]+)\r?\nint=([0-9]+)\r?\ndate=[^\n]+\r?\nuser=[^\n]+\r?\n(text=[^\n]*)?")
    message(FATAL_ERROR "${program} prints no stamp: ${out}")
  endif()
  set(${var} "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3}" PARENT_SCOPE)
endfunction()

function(expect what)
  if(NOT (${ARGN}))
    message(FATAL_ERROR "${what}: ${ARGN}")
  endif()
endfunction()

string(REPLACE "|" ";" ENV "${ENV}")
string(REPLACE "|" ";" ARGS "${ARGS}")
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
set(use_ventrim "-DVENTRIM_SOURCE_DIR=${VENTRIM_SOURCE_DIR}")
if(MODE STREQUAL "install")
  run("${CMAKE_COMMAND}" --install "${VENTRIM_BUILD_DIR}" --prefix "${prefix}")
  set(use_ventrim "-DCMAKE_PREFIX_PATH=${prefix}")
endif()
list(APPEND use_ventrim -DKIND=${KIND} ${ARGS})
if(TOOLCHAIN)
  list(APPEND use_ventrim --toolchain "${TOOLCHAIN}")
  set(suffix .exe)
endif()
set(env "${CMAKE_COMMAND}" -E env "CCACHE_DIR=${WORK_DIR}/ccache" ${ENV})
# A copy of the project, whose sources the test may touch.
file(COPY "${VENTRIM_SOURCE_DIR}/tests/consumer/" DESTINATION "${WORK_DIR}/src")
set(build "${WORK_DIR}/build")
# A multi-config generator builds Release here, Debug too where said.
set(bin "${build}")
set(config "")
if(GENERATOR MATCHES "Multi-Config")
  set(bin "${build}/Release")
  set(config --config Release)
endif()
if(REFUSE)
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${WORK_DIR}/src" -B "${build}" -G "${GENERATOR}" ${use_ventrim}
                  -DREFUSE=${REFUSE} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "[ \n]+" " " out "${out}")
  expect("the configuration did not stop with '${EXPECT}': ${out}" NOT rc EQUAL 0 AND out MATCHES "${EXPECT}")
  return()
endif()
run(${env} "${CMAKE_COMMAND}" -S "${WORK_DIR}/src" -B "${build}" -G "${GENERATOR}" ${use_ventrim})

if(REPRODUCIBLE)
  # The second build in a folder of its own that another user may write,
  # with the same Ventrim.
  string(RANDOM LENGTH 12 name)
  set(other "/tmp/ventrim-consumer-${name}")
  if(DEFINED ENV{TMPDIR})
    set(other "$ENV{TMPDIR}/ventrim-consumer-${name}")
  endif()
  file(COPY "${WORK_DIR}/src" DESTINATION "${other}")
  set(other_use "${use_ventrim}")
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(uid STREQUAL "0")
    # Ventrim as well, where that user may read it.
    if(MODE STREQUAL "install")
      file(COPY "${prefix}" DESTINATION "${other}")
      list(TRANSFORM other_use REPLACE "^-DCMAKE_PREFIX_PATH=.*" "-DCMAKE_PREFIX_PATH=${other}/prefix")
    else()
      file(COPY "${VENTRIM_SOURCE_DIR}/CMakeLists.txt" "${VENTRIM_SOURCE_DIR}/cmake" "${VENTRIM_SOURCE_DIR}/generator"
           "${VENTRIM_SOURCE_DIR}/docs" DESTINATION "${other}/ventrim")
      list(TRANSFORM other_use REPLACE "^-DVENTRIM_SOURCE_DIR=.*" "-DVENTRIM_SOURCE_DIR=${other}/ventrim")
    endif()
    run(chown -R 65534:65534 "${other}")
    run(chmod 755 "${other}")
    set(as setpriv --reuid=65534 --regid=65534 --clear-groups)
  endif()
  set(epoch "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=1700000000)
  run(${epoch} "${CMAKE_COMMAND}" --build "${build}")
  execute_process(COMMAND ${as} ${epoch} "${CMAKE_COMMAND}" -S "${other}/src" -B "${other}/build" -G "${GENERATOR}"
                          ${other_use} RESULT_VARIABLE rc1 OUTPUT_QUIET ERROR_VARIABLE log)
  execute_process(COMMAND ${as} ${epoch} "${CMAKE_COMMAND}" --build "${other}/build"
                  RESULT_VARIABLE rc2 OUTPUT_VARIABLE log2 ERROR_VARIABLE log2)
  foreach(program linked headed)
    execute_process(COMMAND cmp -s "${build}/${program}" "${other}/build/${program}" RESULT_VARIABLE differs)
    if(differs)
      string(APPEND different " ${program}")
    endif()
  endforeach()
  file(REMOVE_RECURSE "${other}")
  expect("the second build failed: ${log}${log2}" rc1 EQUAL 0 AND rc2 EQUAL 0)
  expect("the two builds differ in:${different}" NOT different)
  return()
endif()

run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config})
if(TOOLCHAIN)
  if(WINE)
    stamp(linked linked)
    stamp(headed headed)
  endif()
  return()
endif()
stamp(linked linked1)
stamp(headed headed1)
stamp(headed_too headed_too1)
expect("one header, one stamp" headed1 STREQUAL headed_too1)
file(STRINGS "${build}/stamp/build_stamp.h" lines LIMIT_COUNT 2)
list(GET lines 1 line2)
expect("the header names itself from the build folder" line2 STREQUAL " * stamp/build_stamp.h ")

# The stamp's compile has every argument CMake gave the stamped target's own
# C source, but those naming that source, its object and its dependencies.
set(own linked.c)
if(NOT KIND STREQUAL "exe")
  set(own core.c)
endif()
if(EXISTS "${build}/compile_commands.json")
  file(READ "${build}/compile_commands.json" json)
  string(JSON count LENGTH "${json}")
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON file GET "${json}" ${i} file)
    if(file MATCHES "/${own}$")
      string(JSON command GET "${json}" ${i} command)
    endif()
  endforeach()
  separate_arguments(command UNIX_COMMAND "${command}")
  file(GLOB_RECURSE rsp "${build}/*_ventrim/0/*stamp.rsp")
  file(STRINGS "${rsp}" stamp_args)
  list(TRANSFORM stamp_args REPLACE "\\\\(.)" "\\1")
  list(FIND command -o at)
  list(SUBLIST command ${at} -1 command)
  foreach(arg IN LISTS command)
    if(arg MATCHES "^-[oc]$|^-M[TF]$")
      set(skip ON)
    elseif(NOT skip AND NOT arg STREQUAL "-MD")
      expect("the stamp was compiled without ${arg}" arg IN_LIST stamp_args)
    else()
      set(skip OFF)
    endif()
  endforeach()
endif()

# Nothing changed: the linked program is not linked again.
run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config} --target linked)
expect("a build with nothing to do did something: ${out}"
  out MATCHES "no work to do" OR (NOT GENERATOR MATCHES "Ninja" AND NOT out MATCHES "Linking"))
# The header is stamped afresh on every build, the linked program only as it
# links; each configuration's program as its own link.
run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config})
stamp(linked linked2)
stamp(headed headed2)
expect("the linked stamp changed without a link" linked1 STREQUAL linked2)
expect("the header was not stamped afresh" NOT headed1 STREQUAL headed2)
if(config)
  run(${env} "${CMAKE_COMMAND}" --build "${build}" --config Debug)
  set(bin "${build}/Debug")
  stamp(linked debug)
  set(bin "${build}/Release")
  stamp(linked linked2)
  expect("Debug and Release share a link stamp" NOT debug STREQUAL linked1 AND linked2 STREQUAL linked1)
endif()
# An edited stamp source, then a changed source of the stamped target, each
# link it again with a fresh stamp.
file(READ "${WORK_DIR}/src/stamp.c" text)
string(REPLACE "\"first\"" "\"second\"" text "${text}")
file(WRITE "${WORK_DIR}/src/stamp.c" "${text}")
run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config})
stamp(linked linked3)
expect("the edited stamp source did not reach the program" linked3 MATCHES "text=second$" AND NOT linked3 STREQUAL linked1)
file(TOUCH "${WORK_DIR}/src/${own}")
run(${env} "${CMAKE_COMMAND}" --build "${build}" ${config})
stamp(linked linked4)
expect("a relink kept the old stamp" NOT linked4 STREQUAL linked3)
# Installing right after a build installs what was built, and no part of
# Ventrim.
set(installed "${WORK_DIR}/installed")
run("${CMAKE_COMMAND}" --install "${build}" ${config} --prefix "${installed}")
set(built "${bin}/linked")
set(copied "${installed}/bin/linked")
if(NOT KIND STREQUAL "exe")
  file(GLOB built "${bin}/libcore*")
  cmake_path(GET built FILENAME name)
  set(copied "${installed}/lib/${name}")
endif()
file(SHA256 "${built}" built)
file(SHA256 "${copied}" copied)
file(GLOB_RECURSE ventrim "${installed}/*entrim*")
expect("install did not copy what was built, or installed Ventrim: ${ventrim}" built STREQUAL copied AND NOT ventrim)
