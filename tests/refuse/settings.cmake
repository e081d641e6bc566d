# link_stamp/build_stamp.h[)], called in .*/stamp.c has its own COMPILE_DEFINITIONS and COMPILE_OPTIONS, which
set_source_files_properties(stamp.c PROPERTIES COMPILE_DEFINITIONS X=1 COMPILE_OPTIONS -O0)
