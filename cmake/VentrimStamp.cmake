#[=======================================================================[.rst:
VentrimStamp
------------

Stamps what a CMake project builds with a header Ventrim writes. Included by
``find_package(Ventrim)``, and by ``add_subdirectory()`` of Ventrim's source
tree, which also make the imported tool ``Ventrim::ventrim``. Both functions
need it seen in the calling directory.

.. command:: ventrim_add_link_stamp

  .. code-block:: cmake

    ventrim_add_link_stamp(<target> <source> <header> [REVISION])

  Stamps ``<target>`` (an executable, or a shared, module or static library)
  as it links: its link step first runs Ventrim to write ``<header>``, then
  compiles ``<source>`` and links or archives the object with the target. So
  the stamp changes exactly when the target is linked again: a build with
  nothing to do does nothing, and installing after a build installs the
  binary that was built. An edited ``<source>`` links the target again.

  ``<target>``
    The target, or an ALIAS of it, made in the calling directory.

  ``<source>``
    A small C or C++ file of the project's, not among the target's sources,
    that includes the header by its file name and defines what the program
    reads; relative to the current source folder. It is compiled as CMake
    compiles the target's own sources of its language (flags, definitions,
    include folders, options, standard, position-independent code,
    visibility, generator expressions evaluated for that language), in the
    folder where the generator compiles them; the target's precompiled
    headers are forced in as headers.

  ``<header>``
    Relative to the current binary folder, or absolute. A multi-config
    generator writes one a configuration, in a folder named after it beside
    ``<header>``.

  ``REVISION``
    The header also holds the commit checked out in the calling folder's git
    work tree, and the target links again whenever HEAD moves.

  Refused when configuring, with a message: a call that is not one of the
  two forms above (an empty argument, ``REVISION`` in another place, another
  word); a name that is no target; a directory that does not see
  ``Ventrim::ventrim``; an imported target, an object or interface library,
  or a custom target; a target made in another directory; a source that is
  neither C nor C++, of a language the project has not enabled, also among
  the target's own sources, missing and not generated, or with compile
  definitions, options, flags or include folders of its own; a compiler
  that takes neither GCC's options nor cl's; the Visual Studio generators;
  Apple platforms; a header another stamp writes.

.. command:: ventrim_add_stamp_header

  .. code-block:: cmake

    ventrim_add_stamp_header(<target> <header> [REVISION])

  Runs Ventrim on every build, before ``<target>``'s sources compile, to
  write ``<header>``, and puts the header's folder on ``<target>``'s include
  path. The stamp is fresh on every build, also when nothing else changed:
  sources that include it recompile. Several targets may share one header:
  it is written once a build, so they carry the same stamp.

  ``<target>``
    An executable, or a static, shared, module or object library the project
    builds, or an ALIAS of one; made in any directory.

  ``<header>``, ``REVISION``
    As above.

  Refused when configuring, with a message: a call that is not one of the
  two forms above; a name that is no target; a directory that does not see
  ``Ventrim::ventrim``; an imported target, an interface library or a custom
  target; a header a link stamp writes; a header shared with another call
  that names ``REVISION`` where this one does not, or the other way round.

Both give Ventrim the header's path relative to the top of the build tree
where it lies inside it, so the build folder's place does not end up in the
binary.
#]=======================================================================]

include_guard(GLOBAL)
# The functions keep the policies of the CMake they were written for,
# whatever the project's.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

include("${CMAKE_CURRENT_LIST_DIR}/VentrimStampSettings.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/VentrimStampChecks.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/VentrimStampLink.cmake")

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

# The tool's revision option: the calling folder's work tree with REVISION.
function(_ventrim_revision_option wanted var)
  set(revision "")
  if(wanted)
    set(revision "--revision=${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  set(${var} "${revision}" PARENT_SCOPE)
endfunction()

# --- ventrim_add_stamp_header --------------------------------------------

function(ventrim_add_stamp_header)
  set(fn ventrim_add_stamp_header)
  # Everything is checked before anything is made: a refused call leaves no
  # stamp target behind.
  cmake_parse_arguments(PARSE_ARGV 2 arg "REVISION" "" "")
  _ventrim_check_args(${fn} "<target>;<header>" "${ARGV}" ${arg_REVISION})
  _ventrim_check_target(${fn} "${ARGV0}" "EXECUTABLE;STATIC_LIBRARY;SHARED_LIBRARY;MODULE_LIBRARY;OBJECT_LIBRARY"
    "${fn} serves an executable or library this project compiles: name the one whose sources include the header." target)
  _ventrim_revision_option(${arg_REVISION} revision)
  _ventrim_header_paths("${ARGV1}" header header_dir header_arg)
  _ventrim_claim_header(${fn} ${target} "${header}" "${revision}")

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
  endif()
  add_dependencies(${target} ${stamp_target})
  target_include_directories(${target} PRIVATE "${header_dir}")
endfunction()

# --- ventrim_add_link_stamp ----------------------------------------------

function(ventrim_add_link_stamp)
  set(fn ventrim_add_link_stamp)
  # Everything is checked before anything is made, and what may still
  # change again at the end of the directory.
  cmake_parse_arguments(PARSE_ARGV 3 arg "REVISION" "" "")
  _ventrim_check_args(${fn} "<target>;<source>;<header>" "${ARGV}" ${arg_REVISION})
  _ventrim_check_target(${fn} "${ARGV0}" "EXECUTABLE;SHARED_LIBRARY;MODULE_LIBRARY;STATIC_LIBRARY"
    "${fn} stamps an executable or a shared, module or static library this project links: name that one." target)
  set(source "${ARGV1}")
  cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
  _ventrim_check_link_build(${fn} ${target} "${source}" lang family)
  _ventrim_check_stamp_source("${fn}(${target})" ${target} "${source}" OFF)
  _ventrim_revision_option(${arg_REVISION} revision)
  _ventrim_header_paths("${ARGV2}" header header_dir header_arg)
  _ventrim_claim_header(${fn} ${target} "${header}" "${revision}")
  string(REPLACE ";" " " call "${ARGV}")
  _ventrim_check_stamp_source_later(${target} "${source}" "${fn}(${call})")

  _ventrim_link_stamp_folders(${target} dir header header_dir header_arg)
  cmake_path(GET source STEM name)
  set(object "${dir}/$<CONFIG>/${name}${CMAKE_${lang}_OUTPUT_EXTENSION}")
  set(rsp "${dir}/$<CONFIG>/${name}.rsp")
  _ventrim_rsp_command(${target} ${lang} "${dir}" "${rsp}")

  # As the target links: the header, then the stamp's object from it.
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
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    set_property(TARGET ${target} APPEND PROPERTY STATIC_LIBRARY_OPTIONS "${object}")
  else()
    target_link_options(${target} PRIVATE "${object}")
  endif()

  set(git_files "")
  if(revision)
    _ventrim_git_files(git_files)
  endif()
  _ventrim_archive_edit(${target} ${type} "${source}" "${rsp}" "${dir}" "${git_files}" edit)

  # The settings are read at the end of the directory, where CMake reads them
  # for the target's own sources, and under the policies the directory ends
  # with, which CMake applies to them.
  _ventrim_defer_directory_settings()
  _ventrim_defer(_ventrim_link_stamp_settings TARGET ${target} TYPE ${type} SOURCE "${source}" HEADER "${header}"
    LANG ${lang} FAMILY ${family} DIR "${dir}" COMPILER "${launcher} ${CMAKE_${lang}_COMPILER} ${arg1}"
    RSP "${rsp}" EDIT "${edit}" GIT_FILES ${git_files}
    EVALUATED CMP0043 _ventrim_CMP0043 CMP0063 _ventrim_CMP0063 CMP0128 _ventrim_CMP0128 DEFINITIONS _ventrim_definitions)
endfunction()

cmake_policy(POP)
