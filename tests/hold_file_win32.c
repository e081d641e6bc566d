/* Holds a file open as a compiler, an editor or a virus scanner might:
 * hold_file <path> <milliseconds> [shared]. It shares nothing, or with
 * "shared" reading and writing but not deletion. Prints "held" once it holds
 * the file and "released" once it has let go. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    const DWORD share = argc == 4 ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    HANDLE file = argc >= 3 ? CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_EXISTING, 0, NULL)
                            : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return 1;
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)atoi(argv[2]));
    if (!CloseHandle(file)) return 1;
    printf("released\n");
    return 0;
}
