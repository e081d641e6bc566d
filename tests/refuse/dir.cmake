# is defined in .* Call ventrim_add_link_stamp in that directory
set(OTHER "ventrim_add_link_stamp(headed stamp.c h.h)")
add_subdirectory(other)
