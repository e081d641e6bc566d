/* With cl's options and no C runtime, this stands for each C source of the
   project (core_c, linked_c or headed_c defined): a program exits with the
   first byte of its stamp's GUID, its header's ("headed") or that of "core",
   linked with the program, or a DLL loaded at run time. */
typedef const unsigned char *guid_fn(void);
__declspec(dllimport) void __stdcall ExitProcess(unsigned status);
__declspec(dllimport) void *__stdcall LoadLibraryA(const char *name);
__declspec(dllimport) guid_fn *__stdcall GetProcAddress(void *module, const char *name);
extern const unsigned char build_guid[8];

#if defined(core_c)
__declspec(dllexport) const unsigned char *core_guid(void) { return build_guid; }
#elif defined(headed_c)
#include "build_stamp.h"
static const unsigned char guid[8] = CODE_GUID;
#define GUID guid
#elif defined(CORE_PATH)
#define GUID GetProcAddress(LoadLibraryA("core.dll"), "core_guid")()
#else
guid_fn core_guid;
#define GUID core_guid()
#endif

#ifdef GUID
void mainCRTStartup(void) { ExitProcess(GUID[0]); }
#endif
