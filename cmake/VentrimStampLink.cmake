# The steps of ventrim_add_link_stamp that make what its link step needs: the
# stamp's folders, the response file's build step, what links the target
# again, and the calls deferred to the end of the directory. Included by
# VentrimStamp.cmake.

include_guard(GLOBAL)
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

# Each stamp of a target in a folder of its own, made now: a process less in
# every link. A multi-config generator may link several configurations at
# once: each writes a header of its own, in a folder named after it beside
# <header>: <header_var>, <header_dir_var> and <header_arg_var> name the
# caller's header paths, changed to the configuration's.
function(_ventrim_link_stamp_folders target dir_var header_var header_dir_var header_arg_var)
  get_property(stamps TARGET ${target} PROPERTY _VENTRIM_LINK_STAMPS)
  list(LENGTH stamps n)
  set_property(TARGET ${target} APPEND PROPERTY _VENTRIM_LINK_STAMPS "${${header_var}}")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_ventrim/${n}")
  set(header "${${header_var}}")
  set(header_dir "${${header_dir_var}}")
  set(header_arg "${${header_arg_var}}")
  set(configs "")
  get_property(multi GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi)
    cmake_path(GET header FILENAME name)
    set(header "${header_dir}/$<CONFIG>/${name}")
    set(header_dir "${header_dir}/$<CONFIG>")
    cmake_path(REPLACE_FILENAME header_arg "$<CONFIG>/${name}")
    set(configs ${CMAKE_CONFIGURATION_TYPES})
  endif()
  foreach(config IN LISTS CMAKE_CONFIGURATION_TYPES CMAKE_BUILD_TYPE ITEMS "")
    file(MAKE_DIRECTORY "${dir}/${config}")
  endforeach()
  foreach(config IN LISTS configs ITEMS "")
    string(REPLACE "$<CONFIG>" "${config}" made "${header_dir}")
    file(MAKE_DIRECTORY "${made}")
  endforeach()
  set(${dir_var} "${dir}" PARENT_SCOPE)
  set(${header_var} "${header}" PARENT_SCOPE)
  set(${header_dir_var} "${header_dir}" PARENT_SCOPE)
  set(${header_arg_var} "${header_arg}" PARENT_SCOPE)
endfunction()

# The response file holds every argument but the compiler and the source:
# file(GENERATE) evaluates the target's settings for the stamp's language,
# and a small step at build time writes them as the compiler reads them.
function(_ventrim_rsp_command target lang dir rsp)
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
endfunction()

# An edited stamp source, or a change of what its compile is given, links
# the target again, and with REVISION so does a move of HEAD: LINK_DEPENDS,
# set at the end of the directory. Ninja does not honour LINK_DEPENDS for an
# archive: there a member made from their edit times (a declaration, nothing
# else) makes the archive depend on them; <var> is set to it, else to "".
# Kept out of a unity batch, whose other sources would compile again with it.
function(_ventrim_archive_edit target type source rsp dir git_files var)
  set(edit "")
  if(type STREQUAL "STATIC_LIBRARY" AND CMAKE_GENERATOR MATCHES "Ninja")
    cmake_path(GET dir FILENAME n)  # the stamp's number
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
  set(${var} "${edit}" PARENT_SCOPE)
endfunction()

# Schedules <command> for the end of the directory with the arguments given
# now, each kept as one word. After EVALUATED, pairs of a keyword and the
# name of a variable that the directory's scope holds by then.
function(_ventrim_defer command)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "EVALUATED")
  list(JOIN arg_UNPARSED_ARGUMENTS "]==] [==[" words)
  set(call "cmake_language(DEFER CALL ${command} [==[${words}]==]")
  set(pairs "${arg_EVALUATED}")
  while(pairs)
    list(POP_FRONT pairs keyword name)
    string(APPEND call " ${keyword} \"\${${name}}\"")
  endwhile()
  cmake_language(EVAL CODE "${call})")
endfunction()

# What only the directory's own scope shows at its end: its policies, and
# the flags add_definitions() gave, which only the DEFINITIONS property of old
# shows (read without its deprecation warning). A command of CMake's own,
# called from there, runs under them; a function would run under its own.
function(_ventrim_defer_directory_settings)
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
