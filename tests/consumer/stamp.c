/* The link stamp: it declares what it defines, and needs the target's settings. */
#include "build_stamp.h"

#if !defined(ONLY_C) || defined(ONLY_CXX) || !defined(FROM_SHELL_INCLUDE) || !defined(LATE_FLAG)
#error "the target's settings did not reach the stamp"
#endif

extern const unsigned char build_guid[8];
extern const unsigned long build_int;
extern const char build_date[], build_user[], build_text[];

const unsigned char build_guid[8] = CODE_GUID;
const unsigned long build_int = COMPILE_TIME_DATE_INT;
const char build_date[] = STAMP_KIND COMPILE_TIME_DATE_STR;
const char build_user[] = USER_NAME;
const char build_text[] = "first" STAMP_REVISION;
