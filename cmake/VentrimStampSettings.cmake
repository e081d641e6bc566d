# How Ventrim's link stamp compiles its source as CMake compiles the
# target's: the compiler families, and the capture of the target's settings
# at the end of its directory. Included by VentrimStamp.cmake, and by
# VentrimStampRsp.cmake at build time.

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

# Where CMake compiles the target's sources: the Makefile generators in the
# target's own binary folder, the others at the top of the build tree. There
# a relative argument (-imacros gen/options.h) names the same file, and debug
# information records the same compile folder.
function(_ventrim_compile_dir var)
  set(dir "${CMAKE_BINARY_DIR}")
  if(CMAKE_GENERATOR MATCHES "Makefiles|^Watcom WMake$")
    set(dir "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  set(${var} "${dir}" PARENT_SCOPE)
endfunction()

# Writes, for file(GENERATE), the script that holds the target's settings for
# the stamp's compile.
function(_ventrim_link_stamp_settings target type source header lang family dir compiler rsp edit git_files)
  set(fn "ventrim_add_link_stamp(${target})")
  foreach(property COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FLAGS INCLUDE_DIRECTORIES)
    get_source_file_property(value "${source}" ${property})
    if(value)
      message(FATAL_ERROR "${fn}: ${source} has its own ${property}, "
        "which its compile at link time does not carry. Set them on the target.")
    endif()
  endforeach()
  get_source_file_property(generated "${source}" GENERATED)
  if(NOT generated AND NOT EXISTS "${source}")
    message(FATAL_ERROR "${fn}: the stamp's source ${source} does not exist.")
  endif()
  # Appended here, after whatever the project set: a LINK_DEPENDS set after
  # the call would replace it.
  if(NOT edit)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${source}" "${rsp}" ${git_files})
  endif()
  set(t "${target}")
  # The compiler is named here too, so that a change of it writes the
  # response file again, which links the target again.
  string(CONCAT content "# ${compiler}\nset(family ${family})\nset(type ${type})\nset(lang ${lang})\nset(config [==[$<CONFIG>]==])\n"
    "set(cmp0063 ${_ventrim_CMP0063})\nset(cmp0128 ${_ventrim_CMP0128})\nset(header [==[${header}]==])\n")
  # What CMake knows when it configures: the flags and the compiler's options.
  string(APPEND content "set(flags [==[${CMAKE_${lang}_FLAGS}]==])\n")
  # The flags given to add_definitions() that are no definitions, which CMake
  # passes on as they are.
  string(REGEX MATCHALL "[^ ]+" old_flags "${_ventrim_definitions}")
  list(FILTER old_flags EXCLUDE REGEX "^[-/]D[A-Za-z_][A-Za-z0-9_]*(=.*)?$")
  string(JOIN " " old_flags ${old_flags})
  string(APPEND content "set(old_flags [==[${old_flags}]==])\n")
  foreach(config IN LISTS CMAKE_CONFIGURATION_TYPES CMAKE_BUILD_TYPE)
    string(TOUPPER "${config}" config)
    string(APPEND content "set(flags_${config} [==[${CMAKE_${lang}_FLAGS_${config}}]==])\n")
  endforeach()
  set(sysroot "${CMAKE_SYSROOT}")
  if(CMAKE_SYSROOT_COMPILE)
    set(sysroot "${CMAKE_SYSROOT_COMPILE}")
  endif()
  set(fixed "")
  foreach(pair "TARGET;${CMAKE_${lang}_COMPILER_TARGET}" "EXTERNAL_TOOLCHAIN;${CMAKE_${lang}_COMPILER_EXTERNAL_TOOLCHAIN}"
               "SYSROOT;${sysroot}")
    list(GET pair 0 what)
    list(GET pair 1 value)
    if(value AND CMAKE_${lang}_COMPILE_OPTIONS_${what})
      list(APPEND fixed "${CMAKE_${lang}_COMPILE_OPTIONS_${what}}${value}")
    endif()
  endforeach()
  string(APPEND content "set(fixed [==[${fixed}]==])\n")
  # What decides, as CMake generates the build, which include folders the
  # compiler searches anyway and how ~ is spelled.
  cmake_path(CONVERT "$ENV{CPATH}" TO_CMAKE_PATH_LIST cpath)
  string(APPEND content "set(cpath [==[${cpath}]==])\n")
  if(DEFINED ENV{HOME})
    string(APPEND content "set(home [==[$ENV{HOME}]==])\n")
  endif()
  foreach(var PIC PIE VISIBILITY VISIBILITY_INLINES_HIDDEN WARNING_AS_ERROR)
    string(APPEND content "set(option_${var} [==[${CMAKE_${lang}_COMPILE_OPTIONS_${var}}]==])\n")
  endforeach()
  if(COMMAND _ventrim_settings_${family})
    cmake_language(CALL _ventrim_settings_${family} ${target} ${lang} content)
  endif()
  string(APPEND content "set(standard_default [==[${CMAKE_${lang}_STANDARD_DEFAULT}]==])\n"
    "set(extensions_default [==[${CMAKE_${lang}_EXTENSIONS_DEFAULT}]==])\n")
  foreach(std IN ITEMS 90 98 99 11 14 17 20 23 26)  # as _ventrim_standard_option orders them
    if(DEFINED CMAKE_${lang}${std}_STANDARD_COMPILE_OPTION)
      string(APPEND content "list(APPEND standards ${std})\n"
        "set(std_${std} [==[${CMAKE_${lang}${std}_STANDARD_COMPILE_OPTION}]==])\n"
        "set(ext_${std} [==[${CMAKE_${lang}${std}_EXTENSION_COMPILE_OPTION}]==])\n"
        "set(features_${std} [==[${CMAKE_${lang}${std}_COMPILE_FEATURES}]==])\n")
    endif()
  endforeach()
  # What the target and its usage requirements give, evaluated for <lang>:
  # the export symbol of a shared or module library or of an executable
  # with exports, unless DEFINE_SYMBOL is set empty.
  get_target_property(exports ${t} ENABLE_EXPORTS)
  set(define_symbol "")
  set(exporting OFF)
  if(type MATCHES "SHARED|MODULE" OR (type STREQUAL "EXECUTABLE" AND exports))
    set(exporting ON)
    string(MAKE_C_IDENTIFIER "${t}_EXPORTS" define_symbol)
    get_property(custom TARGET ${t} PROPERTY DEFINE_SYMBOL SET)
    if(custom)
      get_target_property(define_symbol ${t} DEFINE_SYMBOL)
    endif()
  endif()
  # A multi-config generator names the configuration to every compile, after
  # the other definitions.
  set(intdir "")
  get_property(multi GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi)
    set(intdir "-DCMAKE_INTDIR=\"$<CONFIG>\"")
  endif()
  # Folders CMake adds itself: the current ones first where asked, the
  # language's standard ones last as system folders; those the compiler
  # searches anyway are left out.
  set(current "")
  set(before "")
  if(CMAKE_INCLUDE_DIRECTORIES_PROJECT_BEFORE)  # those of the project first
    set(before "${CMAKE_SOURCE_DIR};${CMAKE_BINARY_DIR}")
  endif()
  if(CMAKE_INCLUDE_CURRENT_DIR)
    set(current "${CMAKE_CURRENT_BINARY_DIR};${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  # Under policy CMP0043 OLD, the target's COMPILE_DEFINITIONS_<CONFIG>, to
  # which CMake adds the directory's.
  set(config_definitions "")
  if(NOT _ventrim_CMP0043 STREQUAL "NEW")
    set(config_definitions ";$<TARGET_GENEX_EVAL:${t},$<TARGET_PROPERTY:${t},COMPILE_DEFINITIONS_$<UPPER_CASE:$<CONFIG>>>>")
  endif()
  # The precompiled headers, those of the target named to reuse them from.
  get_target_property(pch_target ${t} PRECOMPILE_HEADERS_REUSE_FROM)
  if(NOT pch_target)
    set(pch_target ${t})
  endif()
  string(APPEND content "set(pch [==[$<$<NOT:$<BOOL:$<TARGET_PROPERTY:${t},DISABLE_PRECOMPILE_HEADERS>>>:"
    "$<TARGET_PROPERTY:${pch_target},PRECOMPILE_HEADERS>>]==])\nset(pch_prologue [==[${CMAKE_PCH_PROLOGUE}]==])\n")
  string(APPEND content "set(definitions [==[${define_symbol};$<TARGET_PROPERTY:${t},COMPILE_DEFINITIONS>${config_definitions}]==])\n"
    "set(intdir [==[${intdir}]==])\nset(exporting ${exporting})\n"
    "set(includes [==[${current};$<TARGET_PROPERTY:${t},INCLUDE_DIRECTORIES>]==])\n"
    "set(before [==[${before}]==])\n"
    "set(standard_includes [==[${CMAKE_${lang}_STANDARD_INCLUDE_DIRECTORIES}]==])\n"
    "set(system_flag [==[${CMAKE_INCLUDE_SYSTEM_FLAG_${lang}}]==])\n"
    "set(implicit [==[${CMAKE_${lang}_IMPLICIT_INCLUDE_DIRECTORIES}]==])\n"
    "set(options [==[$<TARGET_PROPERTY:${t},COMPILE_OPTIONS>]==])\n"
    "set(compile_flags [==[$<TARGET_PROPERTY:${t},COMPILE_FLAGS>]==])\n"
    "set(features [==[$<TARGET_PROPERTY:${t},COMPILE_FEATURES>]==])\n"
    "set(standard [==[$<TARGET_PROPERTY:${t},${lang}_STANDARD>]==])\n"
    "set(standard_required [==[$<TARGET_PROPERTY:${t},${lang}_STANDARD_REQUIRED>]==])\n"
    "set(extensions [==[$<TARGET_PROPERTY:${t},${lang}_EXTENSIONS>]==])\n"
    "set(pic [==[$<TARGET_PROPERTY:${t},POSITION_INDEPENDENT_CODE>]==])\n"
    "set(visibility [==[$<TARGET_PROPERTY:${t},${lang}_VISIBILITY_PRESET>]==])\n"
    "set(inlines_hidden [==[$<TARGET_PROPERTY:${t},VISIBILITY_INLINES_HIDDEN>]==])\n"
    "set(warning_as_error [==[$<TARGET_PROPERTY:${t},COMPILE_WARNING_AS_ERROR>]==])\n")
  file(GENERATE OUTPUT "${dir}/$<CONFIG>/settings-$<COMPILE_LANGUAGE>.cmake" CONTENT "${content}" TARGET ${target})
endfunction()

# The language standard's option, as CMake chooses it: the target's standard,
# raised to what its compile features need; none where the compiler's default
# serves (under policy CMP0128, only where its extensions are the ones asked
# for too). Levels are compared by their place in the list (98 before 11).
function(_ventrim_standard_option var)
  list(FIND standards "${standard}" wanted)
  # A level newer than any the compiler has an option for (C23 for clang-cl)
  # gets none: CMake looks for one at that level or above only.
  set(levels 90 98 99 11 14 17 20 23 26)
  set(newest "")
  if(standards)
    list(GET standards -1 newest)
  endif()
  list(FIND levels "${newest}" newest)
  list(FIND levels "${standard}" at)
  if(wanted LESS 0 AND at GREATER newest)
    set(${var} "" PARENT_SCOPE)
    return()
  endif()
  list(FIND standards "${standard_default}" default)
  set(needed -1)
  string(TOLOWER "${lang}_std_" prefix)
  foreach(feature IN LISTS features)
    foreach(std IN LISTS standards)
      list(FIND standards ${std} at)
      if(at GREATER needed AND (feature STREQUAL "${prefix}${std}" OR feature IN_LIST features_${std}))
        set(needed ${at})
      endif()
    endforeach()
  endforeach()
  if(needed GREATER wanted AND (wanted GREATER_EQUAL 0 OR needed GREATER default))
    set(wanted ${needed})
  endif()
  if(extensions STREQUAL "")
    set(extensions ON)
    if(cmp0128 STREQUAL "NEW" AND NOT extensions_default STREQUAL "")
      set(extensions "${extensions_default}")
    endif()
  endif()
  set(same_extensions OFF)  # and the policy lets the default serve
  if(cmp0128 STREQUAL "NEW" AND ((extensions AND extensions_default) OR NOT (extensions OR extensions_default)))
    set(same_extensions ON)
  endif()
  set(level "")
  if(default LESS 0 OR (wanted LESS 0 AND (same_extensions OR NOT cmp0128 STREQUAL "NEW")))
  elseif(wanted LESS 0)
    set(level "${standard_default}")
  elseif(NOT (same_extensions AND wanted EQUAL default) OR standard_required)
    list(GET standards ${wanted} level)
  endif()
  set(option "")
  if(NOT level STREQUAL "" AND extensions)
    set(option "${ext_${level}}")
  elseif(NOT level STREQUAL "")
    set(option "${std_${level}}")
  endif()
  set(${var} "${option}" PARENT_SCOPE)
endfunction()

cmake_policy(POP)
