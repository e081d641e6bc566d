// A second link stamp of one program, in C++: a const at namespace scope is
// local to its file in C++, so the extern declaration (with C linkage, as C
// reads it) makes it the program's.
#include "build_stamp.h"

#if !defined(ONLY_CXX) || defined(ONLY_C) || !defined(FROM_SHELL_INCLUDE) || !defined(LATE_FLAG)
#error "the target's settings did not reach the stamp"
#endif

extern "C" const char build_more[];
const char build_more[] = COMPILE_TIME_DATE_STR;
