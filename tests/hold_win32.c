/* For the Windows rows. hold PATH MILLISECONDS [shared] holds a file open as a compiler, editor or virus scanner might:
 * sharing nothing, or with "shared" reading and writing but not deletion, or with "all" all three; prints "held", then
 * "released". With "temp" for MILLISECONDS, PATH (a name in the current folder) is held shared until a temporary file
 * .PATH.*.tmp appears beside it, then 100 ms more. hold PIPE serves a one-instance named pipe as a log collector may: says
 * "ready" on standard error once it listens, and prints what its one client writes. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc == 2) {
        HANDLE pipe = CreateNamedPipeA(argv[1], PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0, 4096, 0, NULL);
        if (pipe == INVALID_HANDLE_VALUE) return 1;
        fprintf(stderr, "ready\n");
        if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &got, NULL) && got > 0) fwrite(buffer, 1, got, stdout);
        return 0;
    }
    const int temp = argc == 3 && strcmp(argv[2], "temp") == 0;
    const DWORD share = argc == 4 && strcmp(argv[3], "all") == 0 ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                        : argc == 4 || temp                     ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                                                : 0;
    HANDLE file = argc == 3 || argc == 4 ? CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_EXISTING, 0, NULL)
                                        : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return 1;
    printf("held\n");
    fflush(stdout);
    char pattern[MAX_PATH];
    WIN32_FIND_DATAA found;
    snprintf(pattern, sizeof pattern, ".%s.*.tmp", argv[1]);
    for (int i = 0; temp && i < 10000; ++i) {
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            break;
        }
        Sleep(1);
    }
    Sleep(temp ? 100 : (DWORD)atoi(argv[2]));
    if (!CloseHandle(file)) return 1;
    printf("released\n");
    return 0;
}
