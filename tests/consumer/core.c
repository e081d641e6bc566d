/* The library "core": prints the stamp linked or archived with it. Its stamp
   data stay hidden; only core_print is exported. */
#include <stdio.h>

extern const unsigned char build_guid[8];
extern const unsigned long build_int;
extern const char build_date[];
extern const char build_user[];
extern const char build_text[];

__attribute__((visibility("default"))) void core_print(void);
void core_print(void) {
    int i;
    printf("guid=");
    for (i = 0; i < 8; ++i) printf("%02X", build_guid[i]);
    printf("\nint=%lu\ndate=%s\nuser=%s\ntext=%s\n", build_int, build_date, build_user, build_text);
}
