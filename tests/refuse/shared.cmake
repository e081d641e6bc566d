# head_stamp/build_stamp.h is already written by the stamp header of headed
ventrim_add_link_stamp(linked stamp.c head_stamp/build_stamp.h)
