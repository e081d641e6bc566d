// A second link stamp, in C++: extern "C" makes the const global and C's.
#include "build_stamp.h"

#if !defined(ONLY_CXX) || defined(ONLY_C) || !defined(FROM_SHELL_INCLUDE)
#error "the target's settings did not reach the stamp"
#endif

extern "C" const char build_more[];
const char build_more[] = COMPILE_TIME_DATE_STR;
