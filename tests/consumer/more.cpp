// A second link stamp of one target, in C++: extern "C" makes the const the
// program's (in C++ it is otherwise local to this file) and C's to read.
#include "build_stamp.h"

#if !defined(ONLY_CXX) || defined(ONLY_C) || !defined(FROM_SHELL_INCLUDE)
#error "the target's settings did not reach the stamp"
#endif

extern "C" const char build_more[];
const char build_more[] = COMPILE_TIME_DATE_STR;
