# REVISION stands where <header> belongs
ventrim_add_stamp_header(headed REVISION)
