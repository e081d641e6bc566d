# ventrim_add_link_stamp(<target> <source> <header> [REVISION])
#
# Stamps <target> (an executable, or a shared, module or static library) as it
# links: its link step first runs Ventrim to write <header>, then compiles
# <source> (a small C or C++ file of the project's, not among the target's
# sources, that includes the header by its file name and defines what the
# program reads) and links or archives the object with the target. So the
# stamp changes exactly when the target is linked again: a build with nothing
# to do does nothing, and installing after a build installs the binary that
# was built. An edited <source> links the target again. With REVISION the
# header also holds the commit checked out in the calling folder's git work
# tree, and the target links again whenever HEAD moves.
#
# <source> is compiled as CMake compiles the target's own sources of its
# language: the compiler with its launcher and first argument, CMAKE_<LANG>_FLAGS
# and those of the configuration as they stand at the end of the directory,
# the compiler target and sysroot, the language standard, position-independent
# code, the visibility preset, and the definitions, include folders and options
# of the target and of what it links, generator expressions evaluated for that
# language. What cannot be carried stops the configuration with a message.
#
# ventrim_add_stamp_header(<target> <header> [REVISION])
#
# Runs Ventrim on every build, before <target>'s sources compile, to write
# <header>, and puts the header's folder on <target>'s include path. The stamp
# is fresh on every build, also when nothing else changed: sources that
# include it recompile. Several targets may share one header: it is written
# once a build, so they carry the same stamp. REVISION: as above.
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
# can be no other stamp's, or a parallel build would mix them. Sets
# <revision_var> to the tool's option for a trailing REVISION, else to "".
function(_ventrim_args fn given count target header use target_var revision_var)
  math(EXPR extra "${given} - ${count}")
  set(revision "")
  if(extra EQUAL 1 AND "${ARGN}" MATCHES ";REVISION$")
    set(revision "--revision=${CMAKE_CURRENT_SOURCE_DIR}")
  elseif(NOT extra EQUAL 0)
    message(FATAL_ERROR "${fn} takes ${count} arguments and an optional REVISION, ${use} [REVISION]; given ${given}: ${ARGN}")
  endif()
  set(${revision_var} "${revision}" PARENT_SCOPE)
  if(NOT TARGET "${target}")
    message(FATAL_ERROR "${fn}: no target named '${target}'")
  endif()
  if(NOT TARGET Ventrim::ventrim)
    message(FATAL_ERROR "${fn}(${target}): Ventrim::ventrim is not seen in this directory. An imported "
      "target is seen only in the directory that made it and below: call find_package(Ventrim) here or in a parent directory.")
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
  _ventrim_args(ventrim_add_stamp_header ${ARGC} 2 "${ARGV0}" "${header}" "<target> <header>" target revision ${ARGV})

  # One custom target a header, however many targets include it. A custom
  # target is always out of date, so the tool runs on every build; the header
  # as a byproduct lets Ninja see that it changed.
  string(MD5 key "${header}")
  string(SUBSTRING "${key}" 0 12 key)
  set(stamp_target ventrim_stamp_${key})
  if(NOT TARGET ${stamp_target})
    file(MAKE_DIRECTORY "${header_dir}")
    add_custom_target(${stamp_target}
      COMMAND Ventrim::ventrim ${revision} "${header_arg}"
      WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
      BYPRODUCTS "${header}"
      COMMENT "Stamping ${header_arg}"
      VERBATIM)
    set_property(TARGET ${stamp_target} PROPERTY _VENTRIM_REVISION "${revision}")
  endif()
  # Targets that share a header share its revision too.
  get_property(written TARGET ${stamp_target} PROPERTY _VENTRIM_REVISION)
  if(NOT written STREQUAL revision)
    message(FATAL_ERROR "ventrim_add_stamp_header(${target}): ${header} is already written "
      "with '${written}' as its revision option, not '${revision}'.")
  endif()
  add_dependencies(${target} ${stamp_target})
  target_include_directories(${target} PRIVATE "${header_dir}")
endfunction()

function(ventrim_add_link_stamp)
  set(fn ventrim_add_link_stamp)
  _ventrim_header_paths("${ARGV2}" header header_dir header_arg)
  _ventrim_args(${fn} ${ARGC} 3 "${ARGV0}" "${header}" "<target> <source> <header>" target revision ${ARGV})
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
  if(CMAKE_GENERATOR MATCHES "^Visual Studio")
    message(FATAL_ERROR "${fn}(${target}): the Visual Studio generators run pre-link steps as "
      "MSBuild events, not exactly when the target links. Use Ninja or Makefiles, or ventrim_add_stamp_header.")
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
      "options (GCC, Clang) or cl's (MSVC, clang-cl); the ${lang} compiler is ${CMAKE_${lang}_COMPILER_ID}.")
  endif()

  # Each stamp of a target in a folder of its own.
  get_property(stamps TARGET ${target} PROPERTY _VENTRIM_LINK_STAMPS)
  list(LENGTH stamps n)
  set_property(TARGET ${target} APPEND PROPERTY _VENTRIM_LINK_STAMPS "${source}")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_ventrim/${n}")
  # A multi-config generator may link several configurations at once: each
  # writes a header of its own, in a folder named after it beside <header>.
  set(configs "")
  get_property(multi GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi)
    cmake_path(GET header FILENAME name)
    set(header "${header_dir}/$<CONFIG>/${name}")
    set(header_dir "${header_dir}/$<CONFIG>")
    cmake_path(REPLACE_FILENAME header_arg "$<CONFIG>/${name}")
    set(configs ${CMAKE_CONFIGURATION_TYPES})
  endif()
  # The folders are made now: a process less in every link.
  foreach(config IN LISTS CMAKE_CONFIGURATION_TYPES CMAKE_BUILD_TYPE ITEMS "")
    file(MAKE_DIRECTORY "${dir}/${config}")
  endforeach()
  foreach(config IN LISTS configs ITEMS "")
    string(REPLACE "$<CONFIG>" "${config}" made "${header_dir}")
    file(MAKE_DIRECTORY "${made}")
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
  set(launcher "$<TARGET_PROPERTY:${target},${lang}_COMPILER_LAUNCHER>")
  cmake_language(CALL _ventrim_compile_args_${family} "${source}" "${object}" compile_args)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND Ventrim::ventrim ${revision} "${header_arg}"
    COMMAND "${launcher}" "${CMAKE_${lang}_COMPILER}" ${arg1} "@${rsp}" ${compile_args}
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    COMMAND_EXPAND_LISTS
    VERBATIM)

  # The object goes into the link, or into the archive.
  if(type STREQUAL "STATIC_LIBRARY")
    set_property(TARGET ${target} APPEND PROPERTY STATIC_LIBRARY_OPTIONS "${object}")
  else()
    target_link_options(${target} PRIVATE "${object}")
  endif()
  # An edited stamp source, or a change of what its compile is given, links
  # the target again, and with REVISION so does a move of HEAD. Ninja does
  # not honour LINK_DEPENDS for an archive: there a member made from their
  # edit times (a declaration, nothing else) makes the archive depend on
  # them. Kept out of a unity batch, whose other sources would compile again
  # with it.
  set(edit "")
  set(git_files "")
  if(revision)
    _ventrim_git_files(git_files)
  endif()
  if(type STREQUAL "STATIC_LIBRARY" AND CMAKE_GENERATOR MATCHES "Ninja")
    cmake_path(GET source EXTENSION LAST_ONLY ext)
    set(edit "${dir}/$<CONFIG>/edit${ext}")
    file(CONFIGURE OUTPUT "${dir}/edit.in" CONTENT "extern int ventrim_stamp_edit_${n};\n")
    add_custom_command(OUTPUT "${edit}"
      COMMAND "${CMAKE_COMMAND}" -E copy "${dir}/edit.in" "${edit}"
      COMMAND "${CMAKE_COMMAND}" -E touch "${edit}"
      DEPENDS "${source}" "${rsp}" ${git_files}
      VERBATIM)
    target_sources(${target} PRIVATE "${edit}")
    set_source_files_properties("${edit}" PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()

  # The settings are read at the end of the directory, where CMake reads them
  # for the target's own sources, and under the policies the directory ends
  # with, which CMake applies to them.
  # (A command of CMake's own, called from there, runs under them: it reads
  # the policies, and the flags add_definitions() gave, which only the
  # DEFINITIONS property of old shows, without its deprecation warning.)
  cmake_language(DEFER CALL cmake_language EVAL CODE [[
    cmake_policy(GET CMP0063 _ventrim_CMP0063)
    cmake_policy(GET CMP0128 _ventrim_CMP0128)
    set(_ventrim_warn "${CMAKE_WARN_DEPRECATED}")
    set(CMAKE_WARN_DEPRECATED OFF)
    cmake_policy(PUSH)
    cmake_policy(SET CMP0059 OLD)
    get_directory_property(_ventrim_definitions DEFINITIONS)
    cmake_policy(POP)
    set(CMAKE_WARN_DEPRECATED "${_ventrim_warn}")
    if(_ventrim_warn STREQUAL "")
      unset(CMAKE_WARN_DEPRECATED)
    endif()]])
  cmake_language(EVAL CODE "cmake_language(DEFER CALL _ventrim_link_stamp_settings [==[${target}]==] [==[${type}]==]
    [==[${source}]==] [==[${header}]==] [==[${lang}]==] [==[${family}]==] [==[${dir}]==] [==[${launcher} ${CMAKE_${lang}_COMPILER} ${arg1}]==]
    [==[${rsp}]==] [==[${edit}]==] [==[${git_files}]==])")
endfunction()

# The files git changes whenever HEAD moves, in the work tree of the calling
# folder: HEAD and its reflog in the work tree's own git folder (a linked
# worktree's or a submodule's), the reflog appended on every move (a commit
# on the branch, a checkout, reset, rebase, amend) whatever the setting of
# core.logAllRefUpdates, once it exists; in the reftable format, the lists
# of tables, written again on every change of a ref. rev-parse reads no index
# and runs no program a configuration names; its output is no terminal, so
# no pager. Without git or a repository: none, and the tool says why at
# build time.
function(_ventrim_git_files var)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=GIT_DIR --unset=GIT_WORK_TREE --unset=GIT_COMMON_DIR
      git rev-parse --git-dir --git-common-dir
    WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" TIMEOUT 10
    RESULT_VARIABLE rc OUTPUT_VARIABLE dirs ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(files "")
  if(rc EQUAL 0)
    string(REPLACE "\n" ";" dirs "${dirs}")
    list(GET dirs 0 git)
    list(GET dirs -1 common)
    foreach(dir git common)
      cmake_path(ABSOLUTE_PATH ${dir} BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
    endforeach()
    foreach(file IN ITEMS "${git}/HEAD" "${git}/logs/HEAD" "${git}/reftable/tables.list" "${common}/reftable/tables.list")
      if(EXISTS "${file}")
        list(APPEND files "${file}")
      endif()
    endforeach()
    list(REMOVE_DUPLICATES files)
    if(NOT files MATCHES "/(logs/HEAD|tables.list)(;|$)")
      message(WARNING "ventrim_add_link_stamp: ${git} keeps no log of HEAD's moves: "
        "a commit on a branch does not link the target again; a checkout does.")
    endif()
  endif()
  set(${var} "${files}" PARENT_SCOPE)
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
  foreach(var PIC PIE VISIBILITY VISIBILITY_INLINES_HIDDEN WARNING_AS_ERROR)
    string(APPEND content "set(option_${var} [==[${CMAKE_${lang}_COMPILE_OPTIONS_${var}}]==])\n")
  endforeach()
  if(COMMAND _ventrim_settings_${family})
    cmake_language(CALL _ventrim_settings_${family} ${target} ${lang} content)
  endif()
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
  string(APPEND content "set(definitions [==[${define_symbol};$<TARGET_PROPERTY:${t},COMPILE_DEFINITIONS>]==])\n"
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

# At build time (cmake -P this file): the settings as a response file, in the
# order CMake gives them: definitions (sorted, repeats dropped, as CMake
# does), include folders, then the flags; the stamp's header folder ahead of
# the include folders, and the fresh header forced in first, so that no
# other copy of it beside the source or on the include path counts.
function(_ventrim_write_rsp)
  include("${VENTRIM_SETTINGS}")
  _ventrim_standard_option(standard_option)
  if(type MATCHES "SHARED|MODULE" AND pic STREQUAL "")
    set(pic ON)
  endif()
  string(TOUPPER "${config}" config)
  set(split ${_ventrim_split_${family}})
  separate_arguments(flags ${split} "${flags} ${flags_${config}}")
  separate_arguments(compile_flags ${split} "${compile_flags}")
  if(COMMAND _ventrim_flags_${family})
    cmake_language(CALL _ventrim_flags_${family} flags)
  endif()
  set(args ${fixed})
  list(REMOVE_ITEM definitions "")
  list(REMOVE_DUPLICATES definitions)
  list(SORT definitions)
  list(TRANSFORM definitions PREPEND "-D")
  cmake_path(GET header PARENT_PATH header_dir)
  list(APPEND args ${definitions} ${intdir} "-I${header_dir}" ${_ventrim_force_${family}} "${header}")
  set(project "")
  foreach(include IN LISTS includes)
    foreach(top IN LISTS before)
      cmake_path(IS_PREFIX top "${include}" NORMALIZE inside)
      if(inside)
        list(APPEND project "${include}")
        break()
      endif()
    endforeach()
  endforeach()
  list(PREPEND includes ${project})
  list(REMOVE_ITEM includes "" ${implicit})
  list(REMOVE_DUPLICATES includes)
  list(TRANSFORM includes PREPEND "-I")
  separate_arguments(system_flag ${split} "${system_flag}")
  foreach(include IN LISTS standard_includes)
    if(system_flag)
      list(APPEND includes ${system_flag} "${include}")
    else()
      list(APPEND includes "-I${include}")
    endif()
  endforeach()
  list(APPEND args ${includes})
  list(APPEND args ${flags})
  if(pic AND type STREQUAL "EXECUTABLE")
    list(APPEND args ${option_PIE})
  elseif(pic)
    list(APPEND args ${option_PIC})
  endif()
  # Before policy CMP0063 only what exports symbols has a visibility.
  if(exporting OR cmp0063 STREQUAL "NEW")
    if(visibility AND option_VISIBILITY)
      list(APPEND args "${option_VISIBILITY}${visibility}")
    endif()
    if(inlines_hidden AND lang STREQUAL "CXX")
      list(APPEND args ${option_VISIBILITY_INLINES_HIDDEN})
    endif()
  endif()
  separate_arguments(old_flags ${split} "${old_flags}")
  list(APPEND args ${old_flags} ${compile_flags})
  # Options as CMake passes them: repeats dropped, a SHELL: group split as
  # CMake splits it, by a POSIX shell's rules on every platform.
  set(seen "")
  foreach(option IN LISTS options)
    if(option MATCHES "^SHELL:(.*)")
      separate_arguments(group UNIX_COMMAND "${CMAKE_MATCH_1}")
      list(APPEND args ${group})
    elseif(NOT option IN_LIST seen)
      list(APPEND seen "${option}")
      list(APPEND args "${option}")
    endif()
  endforeach()
  list(APPEND args ${standard_option})
  if(warning_as_error)
    list(APPEND args ${option_WARNING_AS_ERROR})
  endif()
  set(text "")
  foreach(arg IN LISTS args)
    cmake_language(CALL _ventrim_rsp_arg_${family} "${arg}" arg)
    string(APPEND text "${arg}")
  endforeach()
  file(WRITE "${VENTRIM_RSP}" "${text}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED VENTRIM_SETTINGS)
  _ventrim_write_rsp()
endif()
cmake_policy(POP)
