/* A named pipe server with a single instance, as a build's log collector may
 * be: pipe_server <name>. Says "ready" on standard error once it listens, and
 * prints what its one client writes. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
    HANDLE pipe = argc != 2 ? INVALID_HANDLE_VALUE
                            : CreateNamedPipeA(argv[1], PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0, 4096, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    fprintf(stderr, "ready\n");
    if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, NULL) && got > 0) fwrite(buffer, 1, got, stdout);
    return 0;
}
