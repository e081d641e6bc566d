# How Ventrim's link stamp compiles its source as CMake compiles the
# target's: the capture of the target's settings at the end of its
# directory, with the compiler families of VentrimStampFamilies.cmake.
# Included by VentrimStamp.cmake, and by VentrimStampRsp.cmake at build time.

include_guard(GLOBAL)
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

include("${CMAKE_CURRENT_LIST_DIR}/VentrimStampFamilies.cmake")

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
# the stamp's compile. Called at the end of the directory, with what the call
# knew and what the directory's scope held there (its policies CMP0043,
# CMP0063 and CMP0128, the flags add_definitions() gave).
function(_ventrim_link_stamp_settings)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;TYPE;SOURCE;HEADER;LANG;FAMILY;DIR;COMPILER;RSP;EDIT;CMP0043;CMP0063;CMP0128;DEFINITIONS"
    "GIT_FILES")
  set(target "${arg_TARGET}")
  set(type "${arg_TYPE}")
  set(source "${arg_SOURCE}")
  set(header "${arg_HEADER}")
  set(lang "${arg_LANG}")
  set(family "${arg_FAMILY}")
  set(dir "${arg_DIR}")
  set(compiler "${arg_COMPILER}")
  set(rsp "${arg_RSP}")
  set(edit "${arg_EDIT}")
  set(git_files "${arg_GIT_FILES}")
  set(_ventrim_CMP0043 "${arg_CMP0043}")
  set(_ventrim_CMP0063 "${arg_CMP0063}")
  set(_ventrim_CMP0128 "${arg_CMP0128}")
  set(_ventrim_definitions "${arg_DEFINITIONS}")
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
