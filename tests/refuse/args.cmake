# takes 3 arguments and an optional REVISION, .* given 4: .headed. .stamp.c. .. .two.h.
ventrim_add_link_stamp(headed stamp.c [[]] two.h)
