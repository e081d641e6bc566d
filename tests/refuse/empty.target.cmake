# the <target> argument is empty
ventrim_add_stamp_header([[]] h.h)
