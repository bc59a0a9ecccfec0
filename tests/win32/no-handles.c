/* Test helper: no-handles.exe null|invalid PROGRAM
 * Runs PROGRAM with all three standard handles NULL or INVALID_HANDLE_VALUE,
 * as when it is started detached from any console or file, waits for it and
 * exits with its exit code (255 when it could not be started). */
#include <string.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) return 254;
    HANDLE none = wcscmp(argv[1], L"invalid") == 0 ? INVALID_HANDLE_VALUE : NULL;
    STARTUPINFOW startup = {.cb = sizeof startup, .dwFlags = STARTF_USESTDHANDLES,
                            .hStdInput = none, .hStdOutput = none, .hStdError = none};
    PROCESS_INFORMATION child;
    if (!CreateProcessW(argv[2], NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child))
        return 255;
    DWORD code = 253;
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, &code);
    return (int)code;
}
