/* Windows, cl's options, no C runtime: each program of the project in one
   source. A program exits with the first byte of its stamp's GUID: from the
   header ("headed"), linked with it ("linked"), or that of the library "core"
   ("linked" with CORE_*), whose accessor this source is otherwise. */
__declspec(dllimport) void __stdcall ExitProcess(unsigned status);
extern const unsigned char build_guid[8];

#if __has_include("build_stamp.h")
#include "build_stamp.h"
static const unsigned char guid[8] = CODE_GUID;
#define GUID guid
#elif defined(CORE_SHARED) || defined(CORE_STATIC)
#ifdef CORE_SHARED
__declspec(dllimport)
#endif
const unsigned char *core_guid(void);
#define GUID core_guid()
#elif defined(MORE)
#define GUID build_guid
#else
__declspec(dllexport) const unsigned char *core_guid(void);
const unsigned char *core_guid(void) { return build_guid; }
#endif

#ifdef GUID
void mainCRTStartup(void);
void mainCRTStartup(void) { ExitProcess(GUID[0]); }
#endif
