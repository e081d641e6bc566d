/* The stamp of the program "linked", compiled as it links. */
#include "build_stamp.h"

const unsigned char build_guid[8] = CODE_GUID;
const unsigned long build_int = COMPILE_TIME_DATE_INT;
const char build_date[] = STAMP_KIND COMPILE_TIME_DATE_STR;
const char build_user[] = USER_NAME;
