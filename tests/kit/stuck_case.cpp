// Plays a test program of the kit whose first case never ends and leaves a process
// that holds its output file; the second case passes. The kit runner must end the
// first with its tree, name it, and still pass the second.
//   stuck-case --gtest_list_tests | --gtest_filter=Stuck.NeverEnds | --gtest_filter=Stuck.Passes
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    if (strcmp(mode, "--gtest_list_tests") == 0) {
        printf("Stuck.\n  NeverEnds\n  Passes\n");
        return 0;
    }
    if (strcmp(mode, "--gtest_filter=Stuck.Passes") == 0) {
        printf("[  PASSED  ] 1 test.\n");
        return 0;
    }
    if (strcmp(mode, "--gtest_filter=Stuck.NeverEnds") == 0) {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        char line[MAX_PATH + 16];
        snprintf(line, sizeof line, "\"%s\" hold", self);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        // Inherits the output file, as a grandchild of a stuck case would.
        if (CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
            printf("holder %lu\n", process.dwProcessId);
        fflush(stdout);
    }
    Sleep(INFINITE);  // "hold", and the stuck case itself
    return 1;
}
