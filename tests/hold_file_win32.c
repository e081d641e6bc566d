/* Holds a file open without sharing, as a compiler or a virus scanner might:
 * hold_file <path> <milliseconds>. Prints "held" once it does. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    HANDLE file = argc == 3 ? CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) return 1;
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)atoi(argv[2]));
    return !CloseHandle(file);
}
