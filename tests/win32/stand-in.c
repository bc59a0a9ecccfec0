/* Test stand-in for powershell.exe, choco.exe and a planted cmd.exe.
 *
 * Each call appends one line, "<own path>\t<working directory>\t<command
 * line>\n" in UTF-8, to the file named by RECORDER_LOG, writes
 * "stand-in call N\r\n" to standard output (N counts from 1 across all
 * stand-ins of a run), and exits with the N-th status of the comma-separated
 * list in RECORDER_STATUS (0 when the list is shorter). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static void append_utf8(FILE *f, const wchar_t *text) {
    char buffer[65536];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    if (n > 0) fputs(buffer, f);
}

static unsigned count_lines(const wchar_t *path) {
    FILE *f = _wfopen(path, L"rb");
    unsigned lines = 0;
    int c;
    if (!f) return 0;
    while ((c = fgetc(f)) != EOF) lines += c == '\n';
    fclose(f);
    return lines;
}

/* The index-th (from 0) entry of a list like "0,3010,-1". */
static unsigned status_for(unsigned index) {
    const char *list = getenv("RECORDER_STATUS");
    while (list && index > 0) {
        list = strchr(list, ',');
        if (list) ++list;
        --index;
    }
    return list ? (unsigned)strtoll(list, NULL, 10) : 0;
}

int wmain(void) {
    static wchar_t log_path[32768], module[32768], cwd[32768];
    if (!GetEnvironmentVariableW(L"RECORDER_LOG", log_path, 32768)) return 90;
    GetModuleFileNameW(NULL, module, 32768);
    GetCurrentDirectoryW(32768, cwd);

    unsigned index = count_lines(log_path);
    FILE *log = _wfopen(log_path, L"ab");
    if (!log) return 91;
    append_utf8(log, module);
    fputc('\t', log);
    append_utf8(log, cwd);
    fputc('\t', log);
    append_utf8(log, GetCommandLineW());
    fputc('\n', log);
    fclose(log);

    char line[64];
    int n = snprintf(line, sizeof line, "stand-in call %u\r\n", index + 1);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)n, &written, NULL);
    return (int)status_for(index);
}
