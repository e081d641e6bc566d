# stamped is a custom target .add_custom_target.
ventrim_add_stamp_header(stamped h.h)
