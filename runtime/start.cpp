// Process entry point. There is no C runtime to initialise and no argument
// vector to build: the program never reads its command line.
#include <windows.h>

#include "runtime.h"

extern "C" __attribute__((noreturn)) void mainCRTStartup() {
    ExitProcess(setup_main());
}
