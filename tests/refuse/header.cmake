# link_stamp/build_stamp.h is already written by the link stamp of linked
ventrim_add_stamp_header(headed link_stamp/build_stamp.h)
