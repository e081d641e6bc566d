# The link stamp's compile against CMake's own (compile_commands.json) in COUNT projects drawn (SEED) with the GENERATORS given, argument by argument
# and its folder, but for the stamp's header folder and forced header and the precompiled headers' form. A target with SYSTEM folders is compared with
# a twin without, where CMake passes them as -I in place. The stamps of GCC and Clang compile, so a sysroot that matters is seen to reach them.
cmake_minimum_required(VERSION 3.20)
foreach(var SEED COUNT GENERATORS WORK_DIR VENTRIM_SOURCE_DIR)
  if("${${var}}" STREQUAL "")
    message(FATAL_ERROR "stamp_diff_test.cmake: -D${var}= is missing. Give -DSEED=<n> -DCOUNT=<projects> "
      "-DGENERATORS=<generators to draw from, ;-separated> -DWORK_DIR=<scratch folder> -DVENTRIM_SOURCE_DIR=<checkout>.")
  endif()
endforeach()
string(RANDOM LENGTH 1 RANDOM_SEED ${SEED} unused)
function(draw var)  # one of ARGN
  list(LENGTH ARGN n)
  string(RANDOM LENGTH 4 ALPHABET 123456789 r)
  math(EXPR r "${r} % ${n}")
  list(GET ARGN ${r} value)
  set(${var} "${value}" PARENT_SCOPE)
endfunction()
# Compilers no machine here runs, by CMake's ID and simulated ID (no front end named): cl and Intel's icl take cl's options.
include(${VENTRIM_SOURCE_DIR}/cmake/VentrimStampFamilies.cmake)
foreach(row MSVC::msvc Intel:MSVC:msvc Intel::)  # ID:SIMULATE_ID:family
  string(REGEX MATCH "^([^:]*):([^:]*):" ids "${row}")
  set(CMAKE_C_COMPILER_ID "${CMAKE_MATCH_1}")
  set(CMAKE_C_SIMULATE_ID "${CMAKE_MATCH_2}")
  _ventrim_family(C family)
  if(NOT row STREQUAL "${ids}${family}")
    message(FATAL_ERROR "${row}: the family is '${family}'")
  endif()
endforeach()
set(launcher /usr/bin/env VENTRIM_LAUNCHED=1)
# A line of each group in this order (@ the target, @P its properties, @L the stamp's language).
set(groups policy pre kind dep includes defs options std pic vis exports pch caller call late)
set(policy 3.0 3.10 3.20 3.22 3.25 "2.8.12\nset_property(DIRECTORY PROPERTY COMPILE_DEFINITIONS_DEBUG D_DBG)")
set(pre "" [[set(CMAKE_C_FLAGS "-fpack-struct ${CMAKE_C_FLAGS}")]] [[set(CMAKE_INCLUDE_CURRENT_DIR ON)]] [[set(CMAKE_C_EXTENSIONS OFF)]] [[set(CMAKE_CXX_FLAGS_RELEASE "-O2")]]
  [[set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES /opt/std)]] [[set(CMAKE_POSITION_INDEPENDENT_CODE ON)]] [[set(CMAKE_CXX_VISIBILITY_PRESET hidden)]]
  [[add_definitions(-DOLD=1 -Wshadow -DOLD=1)]] [[set(CMAKE_INCLUDE_DIRECTORIES_PROJECT_BEFORE ON)]]
  "set(CMAKE_INCLUDE_DIRECTORIES_PROJECT_BEFORE ON)\ninclude_directories(/opt/out inc/ \${CMAKE_BINARY_DIR}/gen)")
set(kind "add_executable(@ probe.@x main.@y)" "add_library(@ STATIC probe.@x main.@y)" "add_library(@ SHARED probe.@x main.@y)"
  "add_library(@ MODULE probe.@x main.@y)" "add_library(@_o OBJECT main.@y)\nadd_library(@ SHARED probe.@x $<TARGET_OBJECTS:@_o>)")
set(dep "" [[add_library(@_dep INTERFACE)
target_include_directories(@_dep INTERFACE $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
target_compile_definitions(@_dep INTERFACE LEVEL=10 "$<$<COMPILE_LANGUAGE:C>:ONLY_C>" "$<$<CONFIG:Debug>:DBG>")
target_compile_features(@_dep INTERFACE c_std_99 cxx_std_11)
target_link_libraries(@ PRIVATE @_dep)]])
set(includes "" [[target_include_directories(@ PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/with space" /usr/include)]]
  "target_include_directories(@ PRIVATE inc/ /usr/include/ //usr/include /usr/local/include/../include //opt/x ///opt/u /opt//t ~//q /usr/local/include)"
  "target_include_directories(@ SYSTEM PRIVATE /opt/sys)\ninclude_directories(BEFORE /opt/dir)"
  [[add_library(@_imp INTERFACE IMPORTED)
set_target_properties(@_imp PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_CURRENT_SOURCE_DIR}/sys)
target_link_libraries(@ PUBLIC @_imp)]])
set(defs "" [[target_compile_definitions(@ PRIVATE "MSG=\"a b\"" LEVEL=2 A A $<$<C_COMPILER_ID:GNU>:GNU_C>)]]
  [[target_compile_definitions(@ PUBLIC Z=1 $<$<COMPILE_LANGUAGE:CXX>:ONLY_CXX>)]]
  "@P COMPILE_DEFINITIONS_DEBUG T_DBG COMPILE_DEFINITIONS_RELEASE \"T_REL=$<1:1>\")")
set(options "" [[target_compile_options(@ PRIVATE -Wall -Wall "SHELL:-include ${CMAKE_CURRENT_SOURCE_DIR}/pre.h" $<$<CONFIG:Release>:-O3>)]]
  [[target_compile_options(@ PRIVATE $<$<COMPILE_LANGUAGE:C>:-std=gnu99> $<$<COMPILE_LANGUAGE:CXX>:-std=gnu++11>)]] [[@P @L_COMPILER_LAUNCHER "${launcher}")]]
  [[@P COMPILE_FLAGS "-DCF=1 -Wextra" COMPILE_WARNING_AS_ERROR ON)]])
set(std "" "@P C_STANDARD 17 CXX_STANDARD 17)" "@P C_STANDARD 90 CXX_STANDARD 98)" "@P CXX_STANDARD 23 C_STANDARD 23)"
  "@P C_STANDARD 11 C_EXTENSIONS OFF CXX_STANDARD 14 CXX_EXTENSIONS ON)" "@P CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON C_STANDARD 99 C_STANDARD_REQUIRED ON)"
  "@P C_EXTENSIONS OFF CXX_EXTENSIONS OFF)" "@P C_STANDARD 90 CXX_STANDARD 98)\nadd_library(@_f INTERFACE)\ntarget_compile_features(@_f INTERFACE c_static_assert cxx_decltype_auto)\ntarget_link_libraries(@ PRIVATE @_f)" "target_compile_features(@ PRIVATE c_std_11 cxx_std_20)")
set(pic "" "@P POSITION_INDEPENDENT_CODE ON)" "@P POSITION_INDEPENDENT_CODE OFF)" [[@P POSITION_INDEPENDENT_CODE "")]] "@P COMPILE_WARNING_AS_ERROR ON)")
set(vis "" "@P C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET protected VISIBILITY_INLINES_HIDDEN ON)")
set(exports "" "@P ENABLE_EXPORTS ON)" "@P ENABLE_EXPORTS ON DEFINE_SYMBOL X_API)" [[@P DEFINE_SYMBOL "")]] "@P DEFINE_SYMBOL MY_BUILD)")
set(pch "" "target_precompile_headers(@ PRIVATE pre.h <stddef.h>)" "@P UNITY_BUILD ON)"
  "add_library(@_pch STATIC probe.@x main.@y)\ntarget_precompile_headers(@_pch PUBLIC pre.h)\n@P PRECOMPILE_HEADERS_REUSE_FROM @_pch)"
  "target_precompile_headers(@ PRIVATE pre.h)\n@P DISABLE_PRECOMPILE_HEADERS ON UNITY_BUILD ON)")
# The caller's variables named like the functions' locals must not reach them.
set(caller "" "foreach(v exporting define_symbol intdir current before fixed old_flags config_definitions pch_target)\n  set(\${v} LEAK)\nendforeach()")
set(call "ventrim_add_link_stamp(@ stamp.@x h/build_stamp.h)")
set(late "" [[string(APPEND CMAKE_@L_FLAGS " -DLATE")]] [[set(CMAKE_@L_FLAGS_DEBUG "-g3 '-DQ=a b'")]] [[@P LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/pre.h)]])

# What the ctest draw must contain (ON_MISSING_FEATURE=FATAL_ERROR; a campaign's draw only says what it lacks):
# <name>=<regex over "<generator> <compiler> <type> <lang>\n<project>">.
set(features "precompiled headers=PRIVATE pre.h <" "reused precompiled headers=REUSE_FROM" "unity build=UNITY_BUILD ON\\)"
  "Unix Makefiles' compile folder=^Unix Makefiles" "caller's variables named like locals=LEAK" "include spellings=//usr/include"
  "an outside folder before a project folder=PROJECT_BEFORE ON.\ninclude_directories./opt/out" "SYSTEM folders=SYSTEM|_imp"
  "emptied PIC of a library=(SHARED|MODULE) .*POSITION_INDEPENDENT_CODE \"\"" "CMP0043 OLD=(Multi-Config[^\n]*|Debug|Release) [CX]+\n.*VERSION 2.8.12"
  "a standard raised by a linked library's feature=c_static_assert")

# The projects, in one configure for each generator, compiler and build type drawn. Clang also for another
# target and a sysroot of its own, which holds a header the stamp includes; clang-cl configured only.
file(REMOVE_RECURSE "${WORK_DIR}")
set(sysroot "${WORK_DIR}/sysroot")
file(WRITE "${sysroot}/usr/include/vt_sysroot.h" "#ifndef __aarch64__\n#error not compiled for the target\n#endif\n")
set(compilers gcc)
set(with_gcc -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++)
set(with_clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
set(with_cross ${with_clang} -DCMAKE_C_COMPILER_TARGET=aarch64-linux-gnu -DCMAKE_CXX_COMPILER_TARGET=aarch64-linux-gnu
  -DCMAKE_SYSROOT=${sysroot} -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY)
set(with_cl -DCMAKE_TOOLCHAIN_FILE=${VENTRIM_SOURCE_DIR}/cmake/clang-cl-x86_64.cmake)
find_program(clang clang)
find_program(clang_cl clang-cl-14)
if(clang)
  list(APPEND compilers clang cross)
  list(APPEND features "a compiler target and sysroot=cross")
endif()
if(clang_cl)
  list(APPEND compilers cl)
  list(APPEND features "a cl-style compiler= cl " "clang-cl's system flag= cl [^\n]* C\n.*CMAKE_C_STANDARD_INCLUDE_DIRECTORIES"
    "a C standard newer than clang-cl's= cl [^\n]* C\n.*C_EXTENSIONS OFF.*C_STANDARD 23"
    "clang-cl's debug information format by policy= cl Debug ")
endif()
# The project as written for target <name> in folder c<name>, and a twin without SYSTEM folders.
function(write_case name text)
  string(REPLACE "@" "t${name}" text "${text}")
  file(WRITE "${WORK_DIR}/${key}/src/c${name}/CMakeLists.txt" "${text}")
  foreach(file probe.c probe.cpp main.c main.cpp stamp.c stamp.cpp pre.h sys/h)
    file(WRITE "${WORK_DIR}/${key}/src/c${name}/${file}" "")
  endforeach()
  if(compiler STREQUAL "cross")
    file(WRITE "${WORK_DIR}/${key}/src/c${name}/stamp.${x}" "#include <vt_sysroot.h>\n")
  endif()
  file(APPEND "${WORK_DIR}/${key}/src/CMakeLists.txt" "add_subdirectory(c${name})\n")
  set(written "${text}" PARENT_SCOPE)
endfunction()
foreach(i RANGE 1 ${COUNT})
  draw(generator ${GENERATORS})
  draw(compiler ${compilers})
  draw(type "" Debug Release)
  draw(lang C CXX)
  draw(other c cpp)
  string(MD5 key "${generator}${compiler}${type}")
  set(setup_${key} "${generator}" ${compiler} "${type}")
  list(APPEND keys ${key})
  string(REPLACE "XX" "PP" x "${lang}")
  string(TOLOWER "${x}" x)
  set(text "")
  foreach(group IN LISTS groups)
    draw(line ${${group}})
    string(APPEND text "${line}\n")
  endforeach()
  string(REGEX REPLACE "^([0-9.]+)" "cmake_minimum_required(VERSION \\1)" text "${text}")
  string(REPLACE "@P" "set_target_properties(@ PROPERTIES" text "${text}")
  string(REPLACE "@L" "${lang}" text "${text}")
  string(REPLACE "@x" "${x}" text "${text}")
  string(REPLACE "@y" "${other}" text "${text}")
  string(REPLACE " SYSTEM " " " twin "${text}\nset_target_properties(@ PROPERTIES NO_SYSTEM_FROM_IMPORTED ON)\n")
  write_case(${i} "${text}")
  if(text MATCHES "SYSTEM|_imp")
    write_case(${i}s "${twin}")
  endif()
  foreach(feature IN LISTS features)
    string(REGEX REPLACE "^[^=]*=" "" pattern "${feature}")
    if("${generator} ${compiler} ${type} ${lang}\n${text}" MATCHES "${pattern}")
      list(REMOVE_ITEM features "${feature}")
    endif()
  endforeach()
  set(case_${i} "${key};${lang};${x};${written}")
endforeach()
if(features)
  list(TRANSFORM features REPLACE "=.*" "")
  list(JOIN features ", " features)
  message(${ON_MISSING_FEATURE} "The draw of seed ${SEED}, ${COUNT} projects, compares no ${features}: draw more projects or take another seed.")
endif()
list(REMOVE_DUPLICATES keys)
foreach(key IN LISTS keys)
  set(setup "${setup_${key}}")
  list(POP_FRONT setup generator compiler type)
  file(READ "${WORK_DIR}/${key}/src/CMakeLists.txt" subdirs)
  # A Debug build's debug information format by policy CMP0141 (3.25), else by flags.
  set(top 3.20)
  if(type STREQUAL "Debug")
    set(top 3.20...3.25)
  endif()
  file(WRITE "${WORK_DIR}/${key}/src/CMakeLists.txt" "cmake_minimum_required(VERSION ${top})\nproject(Diff C CXX)\n"
    "add_executable(Ventrim::ventrim IMPORTED GLOBAL)\nset_target_properties(Ventrim::ventrim PROPERTIES IMPORTED_LOCATION /bin/true)\n"
    "include(${VENTRIM_SOURCE_DIR}/cmake/VentrimStamp.cmake)\nset(launcher ${launcher})\n${subdirs}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env CPATH=/usr/local/include "${CMAKE_COMMAND}" -S "${WORK_DIR}/${key}/src" -B "${WORK_DIR}/${key}/build" -G "${generator}" -Wno-dev
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_BUILD_TYPE=${type} -DCMAKE_CONFIGURATION_TYPES=Debug\;Release
    ${with_${compiler}} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring ${setup_${key}} failed:\n${out}")
  endif()
endforeach()

set(compared 0)
foreach(i RANGE 1 ${COUNT})
  list(POP_FRONT case_${i} key lang x)
  list(GET setup_${key} 1 compiler)
  set(build "${WORK_DIR}/${key}/build")
  file(GLOB_RECURSE files "${build}/*.ninja" "${build}/c${i}/build.make")
  execute_process(COMMAND cat ${files} OUTPUT_VARIABLE build_files)
  file(READ "${build}/compile_commands.json" commands)
  string(JSON n LENGTH "${commands}")
  math(EXPR n "${n} - 1")
  list(GET setup_${key} 2 configs)
  set(configs "${configs}:")  # each configuration and the folder of its objects
  if(setup_${key} MATCHES "^Ninja Multi")
    set(configs Debug:/Debug Release:/Release)
  endif()
  set(reference c${i})  # the folder of CMake's compile to compare with: the twin's where it has one
  if(EXISTS "${build}/c${i}s")
    set(reference c${i}s)
  endif()
  foreach(pair IN LISTS configs)
    string(REPLACE ":" ";" pair "${pair}")
    list(POP_FRONT pair config object)
    set(dir "${build}/c${i}/t${i}_ventrim/0/${config}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -DVENTRIM_SETTINGS=${dir}/settings-${lang}.cmake -DVENTRIM_RSP=${dir}/stamp.rsp
      -P "${VENTRIM_SOURCE_DIR}/cmake/VentrimStampRsp.cmake" RESULT_VARIABLE rc ERROR_VARIABLE err)
    # The stamp's command and folder as the build runs it, its response file read in; CMake's for the probe (or the unity source holding it), with the
    # launcher it runs, which compile_commands.json omits.
    string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" rsp "${dir}/stamp.rsp")
    string(REGEX MATCH "cd ([^&\n]*[^ &\n]) && ([^&\n]*@${rsp}[^&\n]*)" stamp "${build_files}")
    set(stamp_dir "${CMAKE_MATCH_1}")
    separate_arguments(run UNIX_COMMAND "${CMAKE_MATCH_2}")
    file(READ "${dir}/stamp.rsp" rsp)
    separate_arguments(rsp UNIX_COMMAND "${rsp}")
    list(TRANSFORM run REPLACE "^@.*" "${rsp}" OUTPUT_VARIABLE stamp)
    list(PREPEND stamp "${stamp_dir}")
    set(cmake "")
    string(REPLACE "pp" "xx" ux "${x}")
    foreach(j RANGE ${n})
      string(JSON file GET "${commands}" ${j} file)
      string(JSON command GET "${commands}" ${j} command)
      if(file MATCHES "/${reference}/(probe\\.${x}|CMakeFiles/.*/unity_[0-9]+_${ux}\\.${ux})$"
         AND command MATCHES "/t${i}s?\\.dir${object}/(probe|Unity/)")
        string(JSON directory GET "${commands}" ${j} directory)
        set(used "")
        if(case_${i} MATCHES "${lang}_COMPILER_LAUNCHER")
          list(JOIN launcher " " used)
        endif()
        string(REGEX REPLACE "([ct])${i}s([^0-9a-z]|$)" "\\1${i}\\2" cmake "${directory} ${used} ${command}")
        separate_arguments(cmake UNIX_COMMAND "${cmake}")
      endif()
    endforeach()
    # GCC and Clang compile the stamp, with a header in place of the one the tool would write (warnings aside: a drawn project may redefine a macro
    # under -Werror).
    string(REGEX MATCH "-I[^;]*/h(/${config})?;-(include|FI);[^;]*/h(/${config})?/build_stamp.h;" header "${stamp}")
    if(header AND NOT compiler STREQUAL "cl")
      list(GET header 2 written)
      file(WRITE "${written}" "")
      execute_process(COMMAND ${run} -w WORKING_DIRECTORY "${stamp_dir}" RESULT_VARIABLE compiled ERROR_VARIABLE output)
      if(NOT compiled EQUAL 0)
        list(APPEND failures "c${i} ${config}: the stamp does not compile: ${output}")
      endif()
    endif()
    # Apart: -I and -include of the header; the precompiled headers' form (the stamp's header, of the same text as CMake's); the object, dependency
    # and debug information files, the source; the configuration a unity batch is told of, which the stamp, outside any batch, is not.
    string(REPLACE "${header}" "" stamp "${stamp}")
    if(EXISTS "${dir}/stamp-pch.h")
      string(REGEX MATCH "(^|;)(/FI|-include;|-Xclang;)([^;]*/cmake_pch\\.h(xx)?)(;|$)" pch "${cmake}")
      file(READ "${dir}/stamp-pch.h" ours)
      file(READ "${CMAKE_MATCH_3}" theirs)
      if(NOT ours STREQUAL theirs)
        list(APPEND failures "c${i} ${config}: the precompiled headers differ:\n${ours}\n${theirs}")
      endif()
    endif()
    foreach(var stamp cmake)
      list(TRANSFORM ${var} REPLACE "^[/-]Z[iI]$" "-Z7")
      # At an argument's start only: a folder's name may hold "-FI".
      string(REGEX REPLACE "(^|;)(-Xclang;-include-pch;-Xclang;[^;]*;-Xclang;-include;-Xclang;|-include;|[/-]FI;?)[^;]*(cmake_|stamp-)pch.h(xx)?"
        "\\1-include;pch" ${var} "${${var}}")
      string(REGEX REPLACE ";(-o|-MT|-MF);[^;]*" "" ${var} "${${var}}")
      list(FILTER ${var} EXCLUDE REGEX "^([/-](c|MD|FS|nologo|Yu.*|Fp.*|Fo.*|Fd.*|T[cpCP].*|DCMAKE_UNITY_CONFIG_.*)|--|.*/(stamp|probe)\\.${x}|.*/unity_[0-9]+_${ux}\\.${ux})$")
    endforeach()
    math(EXPR compared "${compared} + 1")
    if(NOT rc EQUAL 0 OR NOT header OR NOT stamp STREQUAL cmake)
      string(REPLACE ";" " " failure "c${i} ${config} ${err}:\n  stamp: ${stamp}\n  cmake: ${cmake}\n${case_${i}}")
      list(APPEND failures "${failure}")
    endif()
  endforeach()
endforeach()
list(LENGTH failures departed)
message(STATUS "${compared} stamp compiles compared in ${COUNT} projects, ${departed} departed")
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
