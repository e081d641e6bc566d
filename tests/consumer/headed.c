/* Prints the stamp of the header it was compiled with. */
#include <stdio.h>

#include "build_stamp.h"

int main(void) {
    static const unsigned char guid[8] = CODE_GUID;
    int i;
    printf("guid=");
    for (i = 0; i < 8; ++i) printf("%02X", guid[i]);
    printf("\nint=%lu\ndate=%s\nuser=%s\n", (unsigned long)COMPILE_TIME_DATE_INT, COMPILE_TIME_DATE_STR, USER_NAME);
    return 0;
}
