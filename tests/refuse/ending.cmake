# stamp.txt is neither C .* Name the stamp's source
ventrim_add_link_stamp(linked stamp.txt l/h.h)
