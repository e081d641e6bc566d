# is an imported target .an executable this project does not build
ventrim_add_stamp_header(Ventrim::ventrim h.h)
