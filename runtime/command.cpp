// Runs one command through the command interpreter, like the C library's
// system(), with one difference that matters under an administrator token:
// the interpreter is only ever taken from an absolute path, never from the
// working directory, where a downloaded file could be waiting.
#include <windows.h>

#include "runtime.h"

namespace {

// The longest environment value and command line Windows accepts, plus one.
constexpr DWORD kMaxChars = 32768;

// One process, one thread: the buffers live here rather than on the stack.
wchar_t g_variable[kMaxChars];
wchar_t g_interpreter[kMaxChars];
wchar_t g_command_line[kMaxChars];

DWORD length(const wchar_t* s) {
    DWORD n = 0;
    while (s[n]) ++n;
    return n;
}

// Appends `count` characters to `buffer` (of kMaxChars) at *used; false,
// leaving the buffer as it was, when they do not fit with the terminator.
bool append(wchar_t* buffer, DWORD* used, const wchar_t* text, DWORD count) {
    if (count >= kMaxChars - *used) return false;
    for (DWORD i = 0; i < count; ++i) buffer[*used + i] = text[i];
    *used += count;
    buffer[*used] = L'\0';
    return true;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:\..." or "\\server\...": a path that does not depend on the working
// directory or the current drive.
bool is_absolute(const wchar_t* path, DWORD count) {
    if (count >= 3 && path[1] == L':' && is_separator(path[2])) {
        wchar_t d = path[0] | 0x20;
        return d >= L'a' && d <= L'z';
    }
    return count >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// Sets g_variable to the value of `name`; false when unset, empty or too long.
bool read_variable(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, g_variable, kMaxChars);
    return n > 0 && n < kMaxChars;
}

// Starts `interpreter` with "<interpreter> /c <command>", waits for it and
// stores its exit code. False when the process could not be created; once it
// has been, the answer is true, so that a command never runs twice.
bool start_and_wait(const wchar_t* interpreter, const wchar_t* command,
                    unsigned* exit_code) {
    DWORD used = 0;
    if (!append(g_command_line, &used, interpreter, length(interpreter)) ||
        !append(g_command_line, &used, L" /c ", 4) ||
        !append(g_command_line, &used, command, length(command))) {
        return false;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    // The application name is given, so CreateProcessW does no search of its
    // own; environment and working directory are inherited unchanged.
    if (!CreateProcessW(interpreter, g_command_line, nullptr, nullptr, TRUE, 0,
                        nullptr, nullptr, &startup, &child)) {
        return false;
    }
    CloseHandle(child.hThread);

    DWORD code = 1;
    if (WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(child.hProcess, &code)) {
        code = 1;  // it ran, but we cannot tell how it ended: not a success
    }
    CloseHandle(child.hProcess);
    *exit_code = code;
    return true;
}

// Tries "<directory>\cmd.exe", for an absolute directory only.
bool try_cmd_in(const wchar_t* directory, DWORD count, const wchar_t* command,
                unsigned* exit_code) {
    if (!is_absolute(directory, count)) return false;
    DWORD used = 0;
    if (!append(g_interpreter, &used, directory, count)) return false;
    if (!is_separator(directory[count - 1]) &&
        !append(g_interpreter, &used, L"\\", 1)) {
        return false;
    }
    return append(g_interpreter, &used, L"cmd.exe", 7) &&
           start_and_wait(g_interpreter, command, exit_code);
}

// Each directory of PATH in turn, with any surrounding quotes removed.
bool try_cmd_on_path(const wchar_t* command, unsigned* exit_code) {
    if (!read_variable(L"PATH")) return false;
    for (const wchar_t* entry = g_variable; *entry;) {
        const wchar_t* end = entry;
        while (*end && *end != L';') ++end;
        const wchar_t* first = entry;
        const wchar_t* last = end;
        if (last - first >= 2 && *first == L'"' && last[-1] == L'"') {
            ++first;
            --last;
        }
        if (try_cmd_in(first, static_cast<DWORD>(last - first), command,
                       exit_code)) {
            return true;
        }
        entry = *end ? end + 1 : end;
    }
    return false;
}

}  // namespace

namespace rt {

bool run_command(const wchar_t* command, unsigned* exit_code) {
    if (read_variable(L"COMSPEC") && is_absolute(g_variable, length(g_variable)) &&
        start_and_wait(g_variable, command, exit_code)) {
        return true;
    }
    UINT n = GetSystemDirectoryW(g_variable, kMaxChars);
    if (n > 0 && n < kMaxChars && try_cmd_in(g_variable, n, command, exit_code)) {
        return true;
    }
    return try_cmd_on_path(command, exit_code);
}

}  // namespace rt
