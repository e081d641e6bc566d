# How a compiler family spells the link stamp's command line: which
# compilers belong to it, how arguments are split and written into a response
# file, and the settings of its own. Included by VentrimStampSettings.cmake.

include_guard(GLOBAL)
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

# --- Compiler families ---------------------------------------------------
# Everything that depends on how a compiler spells its command line is here,
# one set of pieces a family: which compilers belong to it, how flags and
# SHELL: groups are split into arguments, how one argument is written into a
# response file (with what follows it), and the arguments that follow the
# response file (the source and where the object goes); where it needs them,
# settings of its own (_ventrim_settings_<family>) and how they join the flags
# (_ventrim_flags_<family>). Another family adds its own pieces and a branch
# in _ventrim_family. The rest is common: definitions as -D and folders as -I
# (which cl takes too), the other options from CMake's own variables for the
# compiler (CMAKE_<LANG>_COMPILE_OPTIONS_PIC and the like).

# The family of the <lang> compiler, or "" where there is none.
function(_ventrim_family lang var)
  set(family "")
  if(CMAKE_${lang}_COMPILER_ID MATCHES "^(GNU|Clang|AppleClang)$"
     AND NOT CMAKE_${lang}_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC")
    set(family gnu)
  endif()
  # cl and clang-cl; a compiler that simulates cl without naming a front end
  # (Intel's icl) takes cl's options too.
  set(variant "${CMAKE_${lang}_COMPILER_FRONTEND_VARIANT}")
  if(variant STREQUAL "MSVC" OR (NOT variant AND
     (CMAKE_${lang}_COMPILER_ID STREQUAL "MSVC" OR CMAKE_${lang}_SIMULATE_ID STREQUAL "MSVC")))
    set(family msvc)
  endif()
  set(${var} "${family}" PARENT_SCOPE)
endfunction()

set(_ventrim_split_gnu UNIX_COMMAND)

# GCC and Clang split a response file at white space and take a backslash as
# making the next character literal. One argument a line.
function(_ventrim_rsp_arg_gnu arg var)
  string(REGEX REPLACE "([\\\\\"' \t\r\n])" "\\\\\\1" arg "${arg}")
  set(${var} "${arg}\n" PARENT_SCOPE)
endfunction()

function(_ventrim_compile_args_gnu source object var)
  set(${var} -c "${source}" -o "${object}" PARENT_SCOPE)
endfunction()
set(_ventrim_force_gnu -include)
set(_ventrim_pch_gnu -Winvalid-pch)

set(_ventrim_force_msvc -FI)

# cl's flags as the build's shell splits them: Windows keeps the backslashes
# of C:\... paths.
set(_ventrim_split_msvc NATIVE_COMMAND)

# cl and clang-cl split a response file as Windows splits a command line:
# each argument in quotes, a quote in it as \", backslashes doubled where a
# quote follows them. All on one line: an option ends with its line, so the
# file of /FI <file> must not be on the next.
function(_ventrim_rsp_arg_msvc arg var)
  string(REGEX REPLACE "(\\\\*)\"" "\\1\\1\\\\\"" arg "${arg}")
  string(REGEX REPLACE "(\\\\+)$" "\\1\\1" arg "${arg}")
  set(${var} "\"${arg}\" " PARENT_SCOPE)
endfunction()

# The source is named with its language (/Tc, /Tp): clang-cl would take a
# path such as /Users/... for an option. A /Zi among the target's options
# writes a program database of the stamp's own, beside its object.
function(_ventrim_compile_args_msvc source object var)
  set(kind p)
  if(source MATCHES "\\.c$")
    set(kind c)
  endif()
  set(${var} -nologo -c "-Fo${object}" "-Fd${object}.pdb" "-T${kind}${source}" PARENT_SCOPE)
endfunction()

# The runtime library, where CMake takes it from MSVC_RUNTIME_LIBRARY (and not
# from the flags), as CMake evaluates it for the target: the objects of one
# program must agree on it. Whether the target has debug information, where
# CMake takes that from MSVC_DEBUG_INFORMATION_FORMAT.
function(_ventrim_settings_msvc target lang var)
  set(t "${target}")
  set(runtime "")
  if(CMAKE_MSVC_RUNTIME_LIBRARY_DEFAULT)
    set(value "$<TARGET_GENEX_EVAL:${t},$<TARGET_PROPERTY:${t},MSVC_RUNTIME_LIBRARY>>")
    set(value "$<IF:$<BOOL:${value}>,${value},${CMAKE_MSVC_RUNTIME_LIBRARY_DEFAULT}>")
    foreach(kind MultiThreaded MultiThreadedDLL MultiThreadedDebug MultiThreadedDebugDLL)
      string(APPEND runtime "$<$<STREQUAL:${value},${kind}>:${CMAKE_${lang}_COMPILE_OPTIONS_MSVC_RUNTIME_LIBRARY_${kind}}>")
    endforeach()
  endif()
  set(debug "")
  if(CMAKE_MSVC_DEBUG_INFORMATION_FORMAT_DEFAULT)
    set(value "$<TARGET_GENEX_EVAL:${t},$<TARGET_PROPERTY:${t},MSVC_DEBUG_INFORMATION_FORMAT>>")
    set(value "$<IF:$<BOOL:${value}>,${value},${CMAKE_MSVC_DEBUG_INFORMATION_FORMAT_DEFAULT}>")
    set(debug "$<$<BOOL:${value}>:${CMAKE_${lang}_COMPILE_OPTIONS_MSVC_DEBUG_INFORMATION_FORMAT_Embedded}>")
  endif()
  set(${var} "${${var}}set(runtime [==[${runtime}]==])\nset(debug [==[${debug}]==])\n" PARENT_SCOPE)
endfunction()

# The flags with the runtime library and debug information added. Debug
# information goes into the object itself (/Z7) in whatever format the target
# asks for: a program database (/Zi) would be written by other compiles at
# the same time, or be missing when the program links.
function(_ventrim_flags_msvc var)
  set(flags ${${var}})
  list(TRANSFORM flags REPLACE "^[-/]Z[iI]$" "-Z7")
  set(${var} ${flags} ${runtime} ${debug} PARENT_SCOPE)
endfunction()

cmake_policy(POP)
