# The Ventrim package: the imported executable Ventrim::ventrim,
# ventrim_add_link_stamp() and ventrim_add_stamp_header().
if(CMAKE_VERSION VERSION_LESS 3.20)
  set(Ventrim_FOUND FALSE)
  set(Ventrim_NOT_FOUND_MESSAGE "Ventrim's CMake functions need CMake 3.20 or later; this is CMake ${CMAKE_VERSION}.")
  return()
endif()
# Ventrim has no components: one asked for as required is not found, as
# check_required_components judges, and the message names it.
set(_ventrim_missing "")
foreach(_ventrim_component IN LISTS Ventrim_FIND_COMPONENTS)
  set(Ventrim_${_ventrim_component}_FOUND FALSE)
  if(Ventrim_FIND_REQUIRED_${_ventrim_component})
    list(APPEND _ventrim_missing "${_ventrim_component}")
  endif()
endforeach()
unset(_ventrim_component)
if(_ventrim_missing)
  list(JOIN _ventrim_missing ", " _ventrim_missing)
  set(Ventrim_FOUND FALSE)
  string(CONCAT Ventrim_NOT_FOUND_MESSAGE "Ventrim has no components, and was asked for: ${_ventrim_missing}. "
    "Drop COMPONENTS from find_package(Ventrim), or list them under OPTIONAL_COMPONENTS.")
  unset(_ventrim_missing)
  return()
endif()
unset(_ventrim_missing)
# Added by FetchContent, the tree has made Ventrim::ventrim already.
if(NOT TARGET Ventrim::ventrim)
  include("${CMAKE_CURRENT_LIST_DIR}/VentrimTargets.cmake")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/VentrimStamp.cmake")
