# is CXX, a language this project has not enabled
ventrim_add_link_stamp(headed more.cpp h.h)
