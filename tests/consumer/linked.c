/* Prints the stamp it was linked with, or that of the library "core". A
   shared or module "core" must export its printer and not its stamp data. */
#ifdef CORE_STATIC
#define CORE
#elif defined(CORE_SHARED) || defined(CORE_MODULE)
#define _GNU_SOURCE
#include <dlfcn.h>
#define CORE
#endif
#include <stdio.h>

#ifdef CORE
void core_print(void);
#else
#define core_print print
extern const unsigned char build_guid[8];
extern const unsigned long build_int;
extern const char build_date[];
extern const char build_user[];
extern const char build_text[];
extern const char build_more[];

static void print(void) {
    int i;
    printf("guid=");
    for (i = 0; i < 8; ++i) printf("%02X", build_guid[i]);
    printf("\nint=%lu\ndate=%s\nuser=%s\ntext=%s\nmore=%s\n", build_int, build_date, build_user, build_text, build_more);
}
#endif

int main(void) {
#if defined(CORE_SHARED) || defined(CORE_MODULE)
    void *core = dlopen(CORE_PATH, RTLD_NOW);
    void (*print_core)(void);
    if (!core || dlsym(core, "build_date")) {
        printf("core not loaded, or its stamp data visible\n");
        return 1;
    }
    *(void **)&print_core = dlsym(core, "core_print");
    print_core();
#else
    core_print();
#endif
    return 0;
}
