/* Prints the stamp it was built with, the date in a form that sorts. */
#include <stdio.h>
#include <string.h>

#include "build_stamp.h"

int main(void) {
    static const unsigned char guid[8] = CODE_GUID;
    static const char date[] = COMPILE_TIME_DATE_STR; /* "Fri Nov 03 08:26:40 2023" */
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* month = strstr(months, (char[4]){date[4], date[5], date[6], 0});
    int i;
    printf("guid=");
    for (i = 0; i < 8; ++i) printf("%02X", guid[i]);
    printf("\nint=%lu\n", (unsigned long)COMPILE_TIME_DATE_INT);
    printf("date=%.4s-%02d-%.2s %.8s\n", date + 20, month ? (int)(month - months) / 3 + 1 : 0, date + 8, date + 11);
    printf("user=%s\n", USER_NAME);
    return 0;
}
