# ventrim_add_stamp_header(<target> <header>)
#
# Runs Ventrim on every build, before <target>'s sources compile, to write
# <header> (relative to the current binary directory, or absolute), and puts
# the header's folder on <target>'s include path. The stamp is fresh on every
# build, also when nothing else changed: sources that include it recompile.
function(ventrim_add_stamp_header target header)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "ventrim_add_stamp_header: no target named '${target}'")
  endif()
  if(NOT IS_ABSOLUTE "${header}")
    set(header "${CMAKE_CURRENT_BINARY_DIR}/${header}")
  endif()
  cmake_path(NORMAL_PATH header)
  cmake_path(GET header PARENT_PATH header_dir)

  # A custom target is always out of date, so the tool runs on every build;
  # the header as a byproduct lets Ninja see that it changed.
  set(stamp_target ${target}_ventrim_stamp)
  add_custom_target(${stamp_target}
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${header_dir}"
    COMMAND Ventrim::ventrim "${header}"
    BYPRODUCTS "${header}"
    COMMENT "Stamping ${header}"
    VERBATIM)
  add_dependencies(${target} ${stamp_target})
  target_include_directories(${target} PRIVATE "${header_dir}")
endfunction()
