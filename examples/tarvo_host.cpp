// Loads TarvoSetup.DLL the way an installer does (LoadLibrary and GetProcAddress)
// and calls its exports from the command line:
//   tarvo-host run "COMMAND LINE" [CAPACITY]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "tarvo_setup.h"

namespace {

using ExecuteFunction = decltype(&Execute);

int Usage()
{
    fprintf(stderr, "usage: tarvo-host run \"COMMAND LINE\" [CAPACITY]\n");
    return 2;
}

template <typename Function>
Function Find(HMODULE library, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

int Run(HMODULE library, const char* commandLine, unsigned long capacity)
{
    const auto execute = Find<ExecuteFunction>(library, "Execute");
    if (!execute) {
        fprintf(stderr, "tarvo-host: TarvoSetup.DLL has no Execute export\n");
        return 1;
    }
    std::vector<char> output(capacity ? capacity : 1);
    const int result = execute(commandLine, capacity ? output.data() : nullptr, capacity);
    printf("Execute returned %d (0x%08lX)\n", result, static_cast<unsigned long>(result));
    printf("--- output (%u bytes) ---\n", static_cast<unsigned>(strlen(output.data())));
    fwrite(output.data(), 1, strlen(output.data()), stdout);
    printf("\n--- end ---\n");
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
    else
        Usage();
    FreeLibrary(library);
    return status;
}
