/* Each program of the project with cl's options and no C runtime: it exits
   with the first byte of its stamp's GUID, from its header ("headed"), its
   link stamp ("linked"), or the library "core", whose accessor it is else. */
__declspec(dllimport) void __stdcall ExitProcess(unsigned status);
extern const unsigned char build_guid[8];

#if __has_include("build_stamp.h")
#include "build_stamp.h"
static const unsigned char guid[8] = CODE_GUID;
#define GUID guid
#elif defined(CORE_SHARED) || defined(CORE_STATIC)
const unsigned char *core_guid(void);
#define GUID core_guid()
#elif defined(MORE)
#define GUID build_guid
#else
__declspec(dllexport) const unsigned char *core_guid(void) { return build_guid; }
#endif

#ifdef GUID
void mainCRTStartup(void) { ExitProcess(GUID[0]); }
#endif
