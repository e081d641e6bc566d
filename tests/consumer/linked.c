/* Prints its link stamp, or that of the library "core", loaded at run time
   when CORE_PATH names it: a shared or module "core" hides its stamp data. */
#include <stdio.h>
#ifdef CORE_PATH
#include <dlfcn.h>
#else
void core_print(void);
#endif

int main(void) {
#ifdef CORE_PATH
    void (*core_print)(void);
    void *core = dlopen(CORE_PATH, RTLD_NOW);
    if (!core || dlsym(core, "build_date") || !dlsym(core, "core_print")) {
        puts("core: not loaded, or its stamp data visible");
        return 1;
    }
    *(void **)&core_print = dlsym(core, "core_print");
#endif
    core_print();
    return 0;
}
