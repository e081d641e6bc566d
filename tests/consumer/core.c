/* Prints the stamp of "linked", "headed" or "core", which exports only this. */
#include <stdio.h>

extern const unsigned char build_guid[8];
extern const unsigned long build_int;
extern const char build_date[], build_user[], build_text[], build_more[];

#ifdef core_EXPORTS
__attribute__((visibility("default")))
#endif
void core_print(void);
void core_print(void) {
    int i;
    printf("guid=");
    for (i = 0; i < 8; ++i) printf("%02X", build_guid[i]);
    printf("\nint=%lu\ndate=%s\nuser=%s\ntext=%s\nmore=%s\n", build_int, build_date, build_user, build_text, build_more);
}
