# the <source> argument is empty
ventrim_add_link_stamp(headed [[]] h.h)
