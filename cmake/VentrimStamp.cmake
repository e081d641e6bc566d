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
# language; its precompiled headers, forced in as headers; in the folder where
# the generator compiles the target's sources. What cannot be carried stops
# the configuration with a message.
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

include("${CMAKE_CURRENT_LIST_DIR}/VentrimStampSettings.cmake")

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
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VentrimStampRsp.cmake")
  add_custom_command(OUTPUT "${rsp}"
    COMMAND "${CMAKE_COMMAND}" "-DVENTRIM_SETTINGS=${dir}/$<CONFIG>/settings-${lang}.cmake"
            "-DVENTRIM_RSP=${rsp}" -P "${script}"
    DEPENDS "${dir}/$<CONFIG>/settings-${lang}.cmake" "${script}"
            "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VentrimStampSettings.cmake"
            "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VentrimStampIncludes.cmake"
            "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VentrimStampFamilies.cmake"
    VERBATIM)
  target_sources(${target} PRIVATE "${rsp}")

  separate_arguments(arg1 NATIVE_COMMAND "${CMAKE_${lang}_COMPILER_ARG1}")
  set(launcher "$<TARGET_PROPERTY:${target},${lang}_COMPILER_LAUNCHER>")
  cmake_language(CALL _ventrim_compile_args_${family} "${source}" "${object}" compile_args)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND Ventrim::ventrim ${revision} "${header_arg}"
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    VERBATIM)
  _ventrim_compile_dir(compile_dir)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND "${launcher}" "${CMAKE_${lang}_COMPILER}" ${arg1} "@${rsp}" ${compile_args}
    WORKING_DIRECTORY "${compile_dir}"
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
    cmake_policy(GET CMP0043 _ventrim_CMP0043)
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

cmake_policy(POP)
