// Standard input and output as plain handles: every write goes straight to
// WriteFile, so the program's messages can never be reordered against what its
// child processes write to the same file, pipe or console. A missing or closed
// handle makes the operation a no-op; it is never a reason to stop.
#include <windows.h>

#include "runtime.h"

namespace {

HANDLE std_handle(DWORD which) {
    HANDLE h = GetStdHandle(which);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void write_all(HANDLE h, const char* data, DWORD size) {
    while (h && size > 0) {
        DWORD written = 0;
        if (!WriteFile(h, data, size, &written, nullptr) || written == 0) return;
        data += written;
        size -= written;
    }
}

// Text mode by hand: "\n" becomes "\r\n".
void write_text(HANDLE h, const char* text) {
    char buffer[256];
    DWORD used = 0;
    for (; *text; ++text) {
        if (used + 2 > sizeof buffer) {
            write_all(h, buffer, used);
            used = 0;
        }
        if (*text == '\n') buffer[used++] = '\r';
        buffer[used++] = *text;
    }
    write_all(h, buffer, used);
}

}  // namespace

namespace rt {

void write_out(const char* text) {
    write_text(std_handle(STD_OUTPUT_HANDLE), text);
}

void write_error_line(const char* text) {
    HANDLE err = std_handle(STD_ERROR_HANDLE);
    write_text(err, text);
    write_text(err, "\n");
}

// One byte at a time, so that nothing past the line feed is taken from a pipe
// or file that someone else reads after us.
void read_line() {
    HANDLE in = std_handle(STD_INPUT_HANDLE);
    if (!in) return;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    }
}

}  // namespace rt
