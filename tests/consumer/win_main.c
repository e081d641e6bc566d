/* With cl's options and no C runtime this stands for each C source (core_c,
   linked_c, headed_c): a program exits with its stamp's first GUID byte. */
__declspec(dllimport) void __stdcall ExitProcess(unsigned status);
extern const unsigned char build_guid[8];

#if defined(core_c)
__declspec(dllexport) const unsigned char *core_guid(void) { return build_guid; }
#elif defined(headed_c)
#include "build_stamp.h"
static const unsigned char guid[8] = CODE_GUID;
#define GUID guid
#else
const unsigned char *core_guid(void);
#define GUID core_guid()
#endif

#ifdef GUID
void mainCRTStartup(void) { ExitProcess(GUID[0]); }
#endif
