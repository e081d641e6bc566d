# ventrim_add_link_stamp[(]consumer::stamped stamp.c link_stamp/build_stamp.h[)], called in .*/CMakeLists.txt: .*/stamp.c is also one of linked's own
target_sources(linked PRIVATE stamp.c)
