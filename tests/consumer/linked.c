/* Prints the stamp it was linked with. */
#include <stdio.h>

extern const unsigned char build_guid[8];
extern const unsigned long build_int;
extern const char build_date[];
extern const char build_user[];

int main(void) {
    int i;
    printf("guid=");
    for (i = 0; i < 8; ++i) printf("%02X", build_guid[i]);
    printf("\nint=%lu\ndate=%s\nuser=%s\n", build_int, build_date, build_user);
    return 0;
}
