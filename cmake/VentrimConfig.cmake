# The Ventrim package: the imported executable Ventrim::ventrim,
# ventrim_add_link_stamp() and ventrim_add_stamp_header().
include("${CMAKE_CURRENT_LIST_DIR}/VentrimTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/VentrimStamp.cmake")
