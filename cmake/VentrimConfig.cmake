# The Ventrim package: the imported executable Ventrim::ventrim,
# ventrim_add_link_stamp() and ventrim_add_stamp_header().
if(CMAKE_VERSION VERSION_LESS 3.20)
  set(Ventrim_FOUND FALSE)
  set(Ventrim_NOT_FOUND_MESSAGE "Ventrim's CMake functions need CMake 3.20 or later; this is CMake ${CMAKE_VERSION}.")
  return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/VentrimTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/VentrimStamp.cmake")
