# ventrim_add_link_stamp(<target> <source> <header>)
#
# Stamps <target> (an executable, or a shared, module or static library) as it
# links: its link step first runs Ventrim to write <header>, then compiles
# <source> (a small C or C++ file of the project's, not among the target's
# sources, that includes the header by its file name and defines what the
# program reads) and links or archives the object with the target. So the
# stamp changes exactly when the target is linked again: a build with nothing
# to do does nothing, and installing after a build installs the binary that
# was built. An edited <source> links the target again.
#
# <source> is compiled as CMake compiles the target's own sources of its
# language: the compiler with its launcher and first argument, CMAKE_<LANG>_FLAGS
# and those of the configuration as they stand at the end of the directory,
# the compiler target and sysroot, the language standard, position-independent
# code, the visibility preset, and the definitions, include folders and options
# of the target and of what it links, generator expressions evaluated for that
# language. What cannot be carried stops the configuration with a message.
#
# ventrim_add_stamp_header(<target> <header>)
#
# Runs Ventrim on every build, before <target>'s sources compile, to write
# <header>, and puts the header's folder on <target>'s include path. The stamp
# is fresh on every build, also when nothing else changed: sources that
# include it recompile. Several targets may share one header: it is written
# once a build, so they carry the same stamp.
#
# <header> is relative to the current binary folder, or absolute. The header
# names itself relative to the top of the build tree, so where the build
# folder lies does not end up in the binary.

include_guard(GLOBAL)
# The functions keep the policies of the CMake they were written for,
# whatever the project's.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

# --- Compiler families ---------------------------------------------------
# Everything that depends on how a compiler spells its command line is here,
# one set of pieces a family: which compilers belong to it, how flags and
# SHELL: groups are split into arguments, how one argument is written into a
# response file, and the arguments that follow the response file (the source
# and where the object goes). Another family adds its own pieces and a branch
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
  set(${var} "${family}" PARENT_SCOPE)
endfunction()

set(_ventrim_split_gnu UNIX_COMMAND)

# GCC and Clang split a response file at white space and take a backslash as
# making the next character literal.
function(_ventrim_rsp_arg_gnu arg var)
  string(REGEX REPLACE "([\\\\\"' \t\r\n])" "\\\\\\1" arg "${arg}")
  set(${var} "${arg}" PARENT_SCOPE)
endfunction()

function(_ventrim_compile_args_gnu source object var)
  set(${var} -pipe -c "${source}" -o "${object}" PARENT_SCOPE)
endfunction()

# --- Shared helpers ------------------------------------------------------

# The header's full path, its folder, and the path Ventrim is given: relative
# to the top binary folder when it lies inside it.
function(_ventrim_header_paths header full_var dir_var arg_var)
  if(NOT IS_ABSOLUTE "${header}")
    set(header "${CMAKE_CURRENT_BINARY_DIR}/${header}")
  endif()
  cmake_path(NORMAL_PATH header)
  cmake_path(GET header PARENT_PATH dir)
  cmake_path(IS_PREFIX CMAKE_BINARY_DIR "${header}" NORMALIZE inside)
  set(arg "${header}")
  if(inside)
    file(RELATIVE_PATH arg "${CMAKE_BINARY_DIR}" "${header}")
  endif()
  set(${full_var} "${header}" PARENT_SCOPE)
  set(${dir_var} "${dir}" PARENT_SCOPE)
  set(${arg_var} "${arg}" PARENT_SCOPE)
endfunction()

# Checks the count of arguments and the target (an ALIAS stands for the target
# it names) and claims the header for <use>: a header one link stamp writes
# can be no other stamp's, or a parallel build would mix them.
function(_ventrim_args fn given count target header use target_var)
  if(NOT given EQUAL count)
    message(FATAL_ERROR "${fn} takes ${count} arguments, ${use}; given ${given}: ${ARGN}")
  endif()
  if(NOT TARGET "${target}")
    message(FATAL_ERROR "${fn}: no target named '${target}'")
  endif()
  get_target_property(aliased "${target}" ALIASED_TARGET)
  if(aliased)
    set(target "${aliased}")
  endif()
  string(MD5 key "${header}")
  get_property(owner GLOBAL PROPERTY _VENTRIM_HEADER_${key})
  if(owner AND (owner MATCHES "^link " OR fn STREQUAL "ventrim_add_link_stamp"))
    message(FATAL_ERROR "${fn}(${target}): ${header} is already written by the ${owner}. "
      "Give each link-stamped target a header of its own.")
  endif()
  if(fn STREQUAL "ventrim_add_link_stamp")
    set_property(GLOBAL PROPERTY _VENTRIM_HEADER_${key} "link stamp of ${target}")
  elseif(NOT owner)
    set_property(GLOBAL PROPERTY _VENTRIM_HEADER_${key} "stamp header of ${target}")
  endif()
  set(${target_var} "${target}" PARENT_SCOPE)
endfunction()

function(ventrim_add_stamp_header)
  _ventrim_header_paths("${ARGV1}" header header_dir header_arg)
  _ventrim_args(ventrim_add_stamp_header ${ARGC} 2 "${ARGV0}" "${header}" "<target> <header>" target ${ARGV})

  # One custom target a header, however many targets include it. A custom
  # target is always out of date, so the tool runs on every build; the header
  # as a byproduct lets Ninja see that it changed.
  string(MD5 key "${header}")
  string(SUBSTRING "${key}" 0 12 key)
  set(stamp_target ventrim_stamp_${key})
  if(NOT TARGET ${stamp_target})
    file(MAKE_DIRECTORY "${header_dir}")
    add_custom_target(${stamp_target}
      COMMAND Ventrim::ventrim "${header_arg}"
      WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
      BYPRODUCTS "${header}"
      COMMENT "Stamping ${header_arg}"
      VERBATIM)
  endif()
  add_dependencies(${target} ${stamp_target})
  target_include_directories(${target} PRIVATE "${header_dir}")
endfunction()

function(ventrim_add_link_stamp)
  set(fn ventrim_add_link_stamp)
  _ventrim_header_paths("${ARGV2}" header header_dir header_arg)
  _ventrim_args(${fn} ${ARGC} 3 "${ARGV0}" "${header}" "<target> <source> <header>" target ${ARGV})
  set(source "${ARGV1}")
  cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)

  get_target_property(type ${target} TYPE)
  get_target_property(imported ${target} IMPORTED)
  if(imported OR NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY|STATIC_LIBRARY)$")
    message(FATAL_ERROR "${fn}(${target}): stamps an executable or a shared, module or static library "
      "built here; ${target} is an imported target or a ${type}.")
  endif()
  get_target_property(target_dir ${target} SOURCE_DIR)
  if(NOT target_dir STREQUAL CMAKE_CURRENT_SOURCE_DIR)
    message(FATAL_ERROR "${fn}(${target}): ${target} is defined in ${target_dir}. "
      "Call ${fn} in that directory's CMakeLists.txt: CMake adds to a target's link step only there.")
  endif()
  if(APPLE)
    message(FATAL_ERROR "${fn}(${target}): the architectures, deployment target and SDK of Apple "
      "platforms are not carried to the stamp's compile.")
  endif()
  set(lang CXX)
  if(source MATCHES "\\.c$")
    set(lang C)
  elseif(NOT source MATCHES "\\.(cc|cpp|cxx|c\\+\\+|C)$")
    message(FATAL_ERROR "${fn}(${target}): ${source} is neither C (.c) nor C++ (.cc, .cpp, .cxx, .c++, .C).")
  endif()
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT lang IN_LIST languages)
    message(FATAL_ERROR "${fn}(${target}): ${source} is ${lang}, a language this project has not "
      "enabled. Name it in project() or call enable_language(${lang}).")
  endif()
  _ventrim_family(${lang} family)
  if(NOT family)
    message(FATAL_ERROR "${fn}(${target}): compiles ${source} with a compiler that takes GCC's "
      "options (GCC, Clang); the ${lang} compiler is ${CMAKE_${lang}_COMPILER_ID}.")
  endif()

  # Each stamp of a target in a folder of its own.
  get_property(stamps TARGET ${target} PROPERTY _VENTRIM_LINK_STAMPS)
  list(LENGTH stamps n)
  set_property(TARGET ${target} APPEND PROPERTY _VENTRIM_LINK_STAMPS "${source}")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_ventrim/${n}")
  # The folders are made now: a process less in every link.
  file(MAKE_DIRECTORY "${header_dir}")
  foreach(config IN LISTS CMAKE_CONFIGURATION_TYPES CMAKE_BUILD_TYPE ITEMS "")
    file(MAKE_DIRECTORY "${dir}/${config}")
  endforeach()
  cmake_path(GET source STEM name)
  set(object "${dir}/$<CONFIG>/${name}${CMAKE_${lang}_OUTPUT_EXTENSION}")
  set(rsp "${dir}/$<CONFIG>/${name}.rsp")

  # The response file holds every argument but the compiler and the source:
  # file(GENERATE) evaluates the target's settings for the stamp's language,
  # and a small step at build time writes them as the compiler reads them.
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
  add_custom_command(OUTPUT "${rsp}"
    COMMAND "${CMAKE_COMMAND}" "-DVENTRIM_SETTINGS=${dir}/$<CONFIG>/settings-${lang}.cmake"
            "-DVENTRIM_RSP=${rsp}" -P "${script}"
    DEPENDS "${dir}/$<CONFIG>/settings-${lang}.cmake" "${script}"
    VERBATIM)
  target_sources(${target} PRIVATE "${rsp}")

  separate_arguments(arg1 NATIVE_COMMAND "${CMAKE_${lang}_COMPILER_ARG1}")
  cmake_language(CALL _ventrim_compile_args_${family} "${source}" "${object}" compile_args)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND Ventrim::ventrim "${header_arg}"
    COMMAND "$<TARGET_PROPERTY:${target},${lang}_COMPILER_LAUNCHER>" "${CMAKE_${lang}_COMPILER}" ${arg1}
            "@${rsp}" ${compile_args}
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    COMMAND_EXPAND_LISTS
    VERBATIM)

  # The object goes into the link, or into the archive.
  if(type STREQUAL "STATIC_LIBRARY")
    set_property(TARGET ${target} APPEND PROPERTY STATIC_LIBRARY_OPTIONS "${object}")
  else()
    target_link_options(${target} PRIVATE "${object}")
  endif()
  # An edited stamp source links the target again. Ninja does not honour
  # LINK_DEPENDS for an archive: there a member made from the source's edit
  # time (a declaration, nothing else) makes the archive depend on it.
  if(type STREQUAL "STATIC_LIBRARY" AND CMAKE_GENERATOR MATCHES "Ninja")
    cmake_path(GET source EXTENSION LAST_ONLY ext)
    set(edit "${dir}/edit${ext}")
    file(CONFIGURE OUTPUT "${dir}/edit.in" CONTENT "extern int ventrim_stamp_edit_${n};\n")
    add_custom_command(OUTPUT "${edit}"
      COMMAND "${CMAKE_COMMAND}" -E copy "${dir}/edit.in" "${edit}"
      COMMAND "${CMAKE_COMMAND}" -E touch "${edit}"
      DEPENDS "${source}"
      VERBATIM)
    target_sources(${target} PRIVATE "${edit}")
  else()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${source}")
  endif()

  # The settings are read at the end of the directory, where CMake reads them
  # for the target's own sources.
  cmake_language(EVAL CODE "cmake_language(DEFER CALL _ventrim_link_stamp_settings [==[${target}]==] [==[${type}]==]
    [==[${source}]==] [==[${header_dir}]==] [==[${lang}]==] [==[${family}]==] [==[${dir}]==])")
endfunction()

# Writes, for file(GENERATE), the script that holds the target's settings for
# the stamp's compile.
function(_ventrim_link_stamp_settings target type source header_dir lang family dir)
  foreach(property COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FLAGS INCLUDE_DIRECTORIES)
    get_source_file_property(value "${source}" ${property})
    if(value)
      message(FATAL_ERROR "ventrim_add_link_stamp(${target}): ${source} has its own ${property}, "
        "which its compile at link time does not carry. Set them on the target.")
    endif()
  endforeach()
  set(t "${target}")
  set(content "set(family ${family})\nset(type ${type})\nset(lang ${lang})\nset(config [==[$<CONFIG>]==])\n")
  # What CMake knows when it configures: the flags and the compiler's options.
  string(APPEND content "set(flags [==[${CMAKE_${lang}_FLAGS}]==])\n")
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
  foreach(var PIC PIE VISIBILITY VISIBILITY_INLINES_HIDDEN)
    string(APPEND content "set(option_${var} [==[${CMAKE_${lang}_COMPILE_OPTIONS_${var}}]==])\n")
  endforeach()
  string(APPEND content "set(standard_default [==[${CMAKE_${lang}_STANDARD_DEFAULT}]==])\n"
    "set(extensions_default [==[${CMAKE_${lang}_EXTENSIONS_DEFAULT}]==])\n")
  foreach(std IN ITEMS 90 98 99 11 14 17 20 23 26)
    if(DEFINED CMAKE_${lang}${std}_STANDARD_COMPILE_OPTION)
      string(APPEND content "list(APPEND standards ${std})\n"
        "set(std_${std} [==[${CMAKE_${lang}${std}_STANDARD_COMPILE_OPTION}]==])\n"
        "set(ext_${std} [==[${CMAKE_${lang}${std}_EXTENSION_COMPILE_OPTION}]==])\n"
        "set(features_${std} [==[${CMAKE_${lang}${std}_COMPILE_FEATURES}]==])\n")
    endif()
  endforeach()
  # What the target and its usage requirements give, evaluated for <lang>.
  set(define_symbol "")
  if(type MATCHES "SHARED|MODULE")
    set(define_symbol "$<IF:$<BOOL:$<TARGET_PROPERTY:${t},DEFINE_SYMBOL>>,$<TARGET_PROPERTY:${t},DEFINE_SYMBOL>,$<MAKE_C_IDENTIFIER:${t}_EXPORTS>>")
  endif()
  # A multi-config generator names the configuration to every compile.
  get_property(multi GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi)
    string(APPEND define_symbol ";CMAKE_INTDIR=\"$<CONFIG>\"")
  endif()
  string(APPEND content "set(header_dir [==[${header_dir}]==])\n"
    "set(definitions [==[${define_symbol};$<TARGET_PROPERTY:${t},COMPILE_DEFINITIONS>]==])\n"
    "set(includes [==[$<TARGET_PROPERTY:${t},INCLUDE_DIRECTORIES>]==])\n"
    "set(options [==[$<TARGET_PROPERTY:${t},COMPILE_OPTIONS>]==])\n"
    "set(compile_flags [==[$<TARGET_PROPERTY:${t},COMPILE_FLAGS>]==])\n"
    "set(features [==[$<TARGET_PROPERTY:${t},COMPILE_FEATURES>]==])\n"
    "set(standard [==[$<TARGET_PROPERTY:${t},${lang}_STANDARD>]==])\n"
    "set(extensions [==[$<TARGET_PROPERTY:${t},${lang}_EXTENSIONS>]==])\n"
    "set(pic [==[$<TARGET_PROPERTY:${t},POSITION_INDEPENDENT_CODE>]==])\n"
    "set(visibility [==[$<TARGET_PROPERTY:${t},${lang}_VISIBILITY_PRESET>]==])\n"
    "set(inlines_hidden [==[$<TARGET_PROPERTY:${t},VISIBILITY_INLINES_HIDDEN>]==])\n")
  file(GENERATE OUTPUT "${dir}/$<CONFIG>/settings-$<COMPILE_LANGUAGE>.cmake" CONTENT "${content}" TARGET ${target})
endfunction()

# At build time (cmake -P this file): the settings as a response file, in the
# order CMake gives them: definitions, include folders, then the flags.
function(_ventrim_write_rsp)
  include("${VENTRIM_SETTINGS}")
  # The language standard: the target's, raised to what its compile features
  # need; none where the compiler's default serves. Levels are compared by
  # their place in the list (98 comes before 11).
  list(FIND standards "${standard}" wanted)
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
  if(wanted LESS 0 AND needed LESS_EQUAL default)
    set(needed -1)
  endif()
  if(needed GREATER wanted)
    set(wanted ${needed})
  endif()
  if(extensions STREQUAL "")
    set(extensions ON)
    if(NOT extensions_default STREQUAL "")
      set(extensions "${extensions_default}")
    endif()
  endif()
  if(wanted LESS 0 AND NOT extensions_default STREQUAL "")
    if((extensions AND NOT extensions_default) OR (extensions_default AND NOT extensions))
      set(wanted ${default})
    endif()
  endif()
  set(standard_option "")
  if(wanted GREATER_EQUAL 0)
    list(GET standards ${wanted} level)
    set(standard_option "${std_${level}}")
    if(extensions)
      set(standard_option "${ext_${level}}")
    endif()
  endif()
  if(type MATCHES "SHARED|MODULE" AND pic STREQUAL "")
    set(pic ON)
  endif()
  string(TOUPPER "${config}" config)
  set(split ${_ventrim_split_${family}})
  separate_arguments(flags ${split} "${flags} ${flags_${config}}")
  separate_arguments(compile_flags ${split} "${compile_flags}")
  set(args "")
  foreach(definition IN LISTS definitions)
    if(NOT definition STREQUAL "")
      list(APPEND args "-D${definition}")
    endif()
  endforeach()
  list(APPEND args "-I${header_dir}")
  list(REMOVE_DUPLICATES includes)
  foreach(include IN LISTS includes)
    list(APPEND args "-I${include}")
  endforeach()
  list(APPEND args ${flags} ${fixed} ${standard_option})
  if(pic AND type STREQUAL "EXECUTABLE")
    list(APPEND args ${option_PIE})
  elseif(pic)
    list(APPEND args ${option_PIC})
  endif()
  if(visibility AND option_VISIBILITY)
    list(APPEND args "${option_VISIBILITY}${visibility}")
  endif()
  if(inlines_hidden AND lang STREQUAL "CXX")
    list(APPEND args ${option_VISIBILITY_INLINES_HIDDEN})
  endif()
  list(APPEND args ${compile_flags})
  # Options as CMake passes them: repeats dropped, a SHELL: group split as a
  # shell would.
  set(seen "")
  foreach(option IN LISTS options)
    if(option MATCHES "^SHELL:(.*)")
      separate_arguments(group ${split} "${CMAKE_MATCH_1}")
      list(APPEND args ${group})
    elseif(NOT option IN_LIST seen)
      list(APPEND seen "${option}")
      list(APPEND args "${option}")
    endif()
  endforeach()
  set(text "")
  foreach(arg IN LISTS args)
    cmake_language(CALL _ventrim_rsp_arg_${family} "${arg}" arg)
    string(APPEND text "${arg}\n")
  endforeach()
  file(WRITE "${VENTRIM_RSP}" "${text}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED VENTRIM_SETTINGS)
  _ventrim_write_rsp()
endif()
cmake_policy(POP)
