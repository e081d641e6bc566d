/* A stand-in git.exe for the Windows rows: what it does is the word in the
   file "mode" beside it. status: a listing, or a status of a modified tree;
   late: the same, its output closed a moment before it exits; input: the same
   when its standard input is NUL, which gives nothing; hang: starts a copy of
   itself that hangs too, and hangs; flood: 65 MiB of output; fail: git's
   message, status 128. */
#include <windows.h>
#include <string.h>

static const char kStatus[] = "# branch.oid 0123456789abcdef0123456789abcdef01234567\0# branch.head main\0"
                              "1 .M N... 100644 100644 100644 0123456789abcdef0123456789abcdef01234567 "
                              "0123456789abcdef0123456789abcdef01234567 f\0";
static const char kListing[] = "protocol.allow\0";

static void put(HANDLE to, const char* data, DWORD size) {
    DWORD n;
    while (size > 0 && WriteFile(to, data, size, &n, NULL) && n > 0) data += n, size -= n;
}

int main(void) {
    wchar_t path[MAX_PATH + 8];
    char mode[16] = {0};
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    while (n > 0 && path[n - 1] != L'\\') --n;
    wcscpy(path + n, L"mode");
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) ReadFile(file, mode, sizeof mode - 1, &n, NULL), CloseHandle(file);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
    if (strncmp(mode, "hang", 4) == 0) {
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION child;
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(NULL, self, MAX_PATH);
        if (wcsstr(GetCommandLineW(), L" child") == NULL) {  /* its command line names the folder too */
            wchar_t line[MAX_PATH + 16];
            wcscat(wcscpy(line, self), L" child");
            CreateProcessW(self, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child);
        }
        Sleep(INFINITE);
    }
    if (strncmp(mode, "flood", 5) == 0) {
        static char block[1 << 16];
        for (int i = 0; i < 65 * 16 + 1; ++i) put(out, block, sizeof block);
        return 0;
    }
    if (strncmp(mode, "fail", 4) == 0) {
        put(err, "fatal: not a git repository (or any of the parent directories): .git\n", 69);
        return 128;
    }
    if (strncmp(mode, "input", 5) == 0) {
        char byte;
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        if (GetFileType(in) != FILE_TYPE_CHAR || !ReadFile(in, &byte, 1, &n, NULL) || n != 0) {
            put(err, "fatal: standard input is not NUL\n", 33);
            return 1;
        }
    }
    if (wcsstr(GetCommandLineW(), L" config ") != NULL) {
        put(out, kListing, sizeof kListing - 1);
    } else {
        put(out, kStatus, sizeof kStatus - 1);
    }
    if (strncmp(mode, "late", 4) == 0) {
        CloseHandle(out), CloseHandle(err);
        Sleep(500);
    }
    return 0;
}
