# ventrim_add_stamp_header takes 2 arguments .* given 4
ventrim_add_stamp_header(headed h.h REVISION REVISION)
