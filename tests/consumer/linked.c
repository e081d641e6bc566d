/* Prints the stamp; a shared or module "core" (CORE_PATH) must hide its data. */
#include <stdio.h>
void core_print(void);
#ifdef CORE_PATH
#include <dlfcn.h>
int main(void) {
    void (*print)(void) = NULL;
    void *core = dlopen(CORE_PATH, RTLD_NOW);
    if (core && !dlsym(core, "build_date")) *(void **)&print = dlsym(core, "core_print");
    return print ? (print(), 0) : puts("core: not loaded, or its stamp data visible");
}
#else
int main(void) { core_print(); return 0; }
#endif
