/* core.c (core_c) and linked.c without a C runtime: exits with the GUID's first byte. */
__declspec(dllimport) void __stdcall ExitProcess(unsigned status);
extern const unsigned char build_guid[8];
#ifdef core_c
__declspec(dllexport) const unsigned char *core_guid(void) { return build_guid; }
#else
const unsigned char *core_guid(void);
void mainCRTStartup(void) { ExitProcess(core_guid()[0]); }
#endif
