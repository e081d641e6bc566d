/* Holds a file open without sharing for a while, as a compiler or a virus
 * scanner might: hold_file <path> <milliseconds>. Prints "held" once it does. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    HANDLE file;
    if (argc != 3) return 2;
    file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)atoi(argv[2]));
    CloseHandle(file);
    return 0;
}
