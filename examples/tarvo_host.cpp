// Loads TarvoSetup.DLL the way an installer does (LoadLibrary and GetProcAddress)
// and calls its exports from the command line:
//   tarvo-host run "COMMAND LINE" [CAPACITY]
//   tarvo-host show FILE CAPTION
//   tarvo-host pick [START NAME]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "tarvo_setup.h"

namespace {

int Usage()
{
    fprintf(stderr,
            "usage: tarvo-host run \"COMMAND LINE\" [CAPACITY]\n"
            "       tarvo-host show FILE CAPTION\n"
            "       tarvo-host pick [START NAME]\n");
    return 2;
}

// Finds an export by name, typed as the header declares it.
template <typename Function>
Function Find(HMODULE library, const char* name, Function)
{
    auto function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (!function)
        fprintf(stderr, "tarvo-host: TarvoSetup.DLL has no %s export\n", name);
    return function;
}

int Run(HMODULE library, const char* commandLine, unsigned long capacity)
{
    const auto execute = Find(library, "Execute", &Execute);
    if (!execute)
        return 1;
    std::vector<char> output(capacity ? capacity : 1);
    const int result = execute(commandLine, capacity ? output.data() : nullptr, capacity);
    printf("Execute returned %d (0x%08lX)\n", result, static_cast<unsigned long>(result));
    printf("--- output (%u bytes) ---\n", static_cast<unsigned>(strlen(output.data())));
    fwrite(output.data(), 1, strlen(output.data()), stdout);
    printf("\n--- end ---\n");
    return 0;
}

int Show(HMODULE library, const char* path, const char* caption)
{
    const auto showMsg = Find(library, "ShowMsg", &ShowMsg);
    if (!showMsg)
        return 1;
    printf("ShowMsg returned %d\n", showMsg(path, caption));
    return 0;
}

int Pick(HMODULE library, const char* startName)
{
    const auto selectPatchFile = Find(library, "SelectPatchFile", &SelectPatchFile);
    if (!selectPatchFile)
        return 1;
    char path[255] = "";
    snprintf(path, sizeof path, "%s", startName);
    int stored = 0;
    const int result = selectPatchFile(&stored, path);
    printf("SelectPatchFile returned %d (stored %d)\n", result, stored);
    if (result)
        printf("chosen: %s\n", path);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    HMODULE library = LoadLibraryA("TarvoSetup.DLL");
    if (!library) {
        fprintf(stderr, "tarvo-host: cannot load TarvoSetup.DLL (error %lu)\n", GetLastError());
        return 1;
    }
    int status = 2;
    if (strcmp(argv[1], "run") == 0 && (argc == 3 || argc == 4))
        status = Run(library, argv[2], argc == 4 ? strtoul(argv[3], nullptr, 0) : 65536);
    else if (strcmp(argv[1], "show") == 0 && argc == 4)
        status = Show(library, argv[2], argv[3]);
    else if (strcmp(argv[1], "pick") == 0 && argc <= 3)
        status = Pick(library, argc == 3 ? argv[2] : "");
    else
        Usage();
    FreeLibrary(library);
    return status;
}
