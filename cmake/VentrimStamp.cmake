# ventrim_add_link_stamp(<target> <source> <header>)
#
# Stamps <target> as it links: its link step first runs Ventrim to write
# <header>, then compiles <source> (a small C or C++ file of the project's,
# not among the target's sources, that includes the header by its file name
# and defines what the program reads) and links the object in. So the stamp
# changes exactly when the target is relinked: a build with nothing to do does
# nothing, and installing after a build installs the binary that was built.
# <source> is compiled with the target's compiler, flags, language standard
# (C_STANDARD or CXX_STANDARD), compile definitions, include directories and
# compile options. Needs a compiler that takes GCC's options (GCC, Clang).
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

function(ventrim_add_stamp_header target header)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "ventrim_add_stamp_header: no target named '${target}'")
  endif()
  _ventrim_header_paths("${header}" header header_dir header_arg)

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

function(ventrim_add_link_stamp target source header)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "ventrim_add_link_stamp: no target named '${target}'")
  endif()
  cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
  _ventrim_header_paths("${header}" header header_dir header_arg)
  set(lang C)
  if(NOT source MATCHES "\\.c$")
    set(lang CXX)
  endif()
  if(NOT CMAKE_${lang}_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "ventrim_add_link_stamp: needs GCC or Clang to compile ${source}")
  endif()

  # The compile command, from the target's own settings (each a list of
  # arguments once generator expressions are evaluated).
  set(t "${target}")
  separate_arguments(flags NATIVE_COMMAND "${CMAKE_${lang}_FLAGS}")
  set(config_flags "")
  foreach(config IN LISTS CMAKE_CONFIGURATION_TYPES CMAKE_BUILD_TYPE)
    string(TOUPPER "${config}" upper)
    separate_arguments(these NATIVE_COMMAND "${CMAKE_${lang}_FLAGS_${upper}}")
    list(JOIN these "$<SEMICOLON>" these)
    string(APPEND config_flags "$<$<CONFIG:${config}>:${these}>")
  endforeach()
  set(standard "")
  foreach(std IN ITEMS 90 98 99 11 14 17 20 23 26)
    foreach(kind STANDARD EXTENSION)
      set(option "${CMAKE_${lang}${std}_${kind}_COMPILE_OPTION}")
      if(option)
        set(extensions "$<NOT:$<STREQUAL:$<TARGET_PROPERTY:${t},${lang}_EXTENSIONS>,OFF>>")
        if(kind STREQUAL STANDARD)
          set(extensions "$<NOT:${extensions}>")
        endif()
        string(APPEND standard "$<$<AND:$<STREQUAL:$<TARGET_PROPERTY:${t},${lang}_STANDARD>,${std}>,${extensions}>:${option}>")
      endif()
    endforeach()
  endforeach()
  set(definitions "$<TARGET_PROPERTY:${t},COMPILE_DEFINITIONS>")
  set(includes "$<TARGET_PROPERTY:${t},INCLUDE_DIRECTORIES>")
  # The folders are made now: a process less in every link.
  set(object_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_ventrim")
  file(MAKE_DIRECTORY "${header_dir}" "${object_dir}")
  set(object "${object_dir}/link_stamp$<CONFIG>${CMAKE_${lang}_OUTPUT_EXTENSION}")
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND Ventrim::ventrim "${header_arg}"
    COMMAND "${CMAKE_${lang}_COMPILER}" ${flags} "${config_flags}" "${standard}"
            "$<$<BOOL:${definitions}>:-D$<JOIN:${definitions},$<SEMICOLON>-D>>"
            "-I${header_dir}" "$<$<BOOL:${includes}>:-I$<JOIN:${includes},$<SEMICOLON>-I>>"
            "$<TARGET_PROPERTY:${t},COMPILE_OPTIONS>" -pipe -c "${source}" -o "${object}"
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    COMMAND_EXPAND_LISTS
    VERBATIM)
  # Not a source of the target: the object exists only once the link runs.
  target_link_options(${target} PRIVATE "${object}")
endfunction()
