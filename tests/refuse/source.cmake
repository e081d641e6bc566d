# ventrim_add_link_stamp[(]headed missing.c m.h[)], called in .*/refuse/source.cmake: the stamp's source .*/missing.c does not exist
ventrim_add_link_stamp(headed missing.c m.h)
