// The few services the setup sequence needs from Windows, written directly on
// KERNEL32 instead of the C runtime, so that the image stays a few kilobytes,
// imports nothing else, and never searches the working directory for a
// program to run with the administrator token.
#pragma once

namespace rt {

// Runs `command` as "<interpreter> /c <command>" and waits for it to end.
// The interpreter is COMSPEC when that is an absolute path, else cmd.exe from
// the system directory, else cmd.exe from an absolute directory of PATH.
// Returns false when none of them could be started; otherwise stores the
// interpreter's exit code (any 32-bit value, -1 included) in *exit_code.
bool run_command(const wchar_t* command, unsigned* exit_code);

// Writes ASCII text to standard output at once, each "\n" as "\r\n".
void write_out(const char* text);

// Writes one line to standard error.
void write_error_line(const char* text);

// Consumes standard input up to and including the first line feed, or until
// end of file or an error.
void read_line();

}  // namespace rt

// The program's sequence; its result becomes the process exit code.
unsigned setup_main();
