/* A stand-in git.exe that does what the file "mode" beside it says: status (a listing or a modified
   tree's status), late (its output closed half a second before it exits), input (status when its input
   is NUL), hang (with a copy of itself that hangs too), flood (65 MiB), fail (git's message, 128).
   Each that gives a status first checks the variables it was given. */
#include <windows.h>
#include <string.h>

static const char kStatus[] = "# branch.oid 0123456789abcdef0123456789abcdef01234567\0# branch.head main\0"
    "1 .M N... 100644 100644 100644 0123456789abcdef0123456789abcdef01234567 0123456789abcdef0123456789abcdef01234567 f";

static void put(HANDLE to, const char* data, DWORD size) {
    DWORD n;
    while (size > 0 && WriteFile(to, data, size, &n, NULL) && n > 0) data += n, size -= n;
}

int main(void) {
    wchar_t self[MAX_PATH + 8], line[MAX_PATH + 16];
    char mode[8] = "", byte;
    DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
    wcscpy(wcsrchr(wcscpy(line, self), L'\\') + 1, L"mode");
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE file = CreateFileW(line, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ReadFile(file, mode, 4, &n, NULL);
    if (strcmp(mode, "hang") == 0) {
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION child;
        if (wcsstr(GetCommandLineW(), L" child") == NULL)  /* its command line names the folder too */
            CreateProcessW(self, wcscat(wcscpy(line, self), L" child"), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child);
        Sleep(INFINITE);
    }
    static char block[1 << 16];
    for (int i = 0; strcmp(mode, "floo") == 0 && i < 65 * 16 + 1; ++i) put(out, block, sizeof block);
    if (strcmp(mode, "fail") == 0) put(err, "fatal: not a git repository (or any of the parent directories): .git\n", 69);
    if (strcmp(mode, "inpu") == 0 && (GetFileType(in) != FILE_TYPE_CHAR || !ReadFile(in, &byte, 1, &n, NULL) || n != 0)) {
        put(err, "fatal: standard input is not NUL\n", 33);
        return 1;
    }
    if (strcmp(mode, "fail") == 0 || strcmp(mode, "floo") == 0) return strcmp(mode, "fail") == 0 ? 128 : 0;
    char pager[8] = "";  /* the runner's variables, but one naming a repository, and the tool's pager */
    if (!GetEnvironmentVariableA("GIT_CONFIG_GLOBAL", NULL, 0) || GetEnvironmentVariableA("GIT_DIR", NULL, 0) ||
        GetEnvironmentVariableA("PAGER", pager, sizeof pager) != 3 || strcmp(pager, "cat") != 0) {
        put(err, "fatal: not the runner's environment\n", 36);
        return 1;
    }
    if (wcsstr(GetCommandLineW(), L" config ") != NULL) put(out, "protocol.allow", sizeof "protocol.allow");
    else put(out, kStatus, sizeof kStatus);
    if (strcmp(mode, "late") == 0) CloseHandle(out), CloseHandle(err), Sleep(500);
    return 0;
}
