// A child process for the command runner's tests. Writes with WriteFile on the raw
// standard handles, so that the bytes and their order are exactly as stated.
//   echo TEXT CODE        TEXT and CR LF to stdout, exit CODE (decimal or 0x hex)
//   interleave            alternating lines to stdout and stderr
//   pattern N             N bytes of a known pattern to stdout; exit 0, or 1 if a write failed
//   flood N               N bytes to stdout; exit 0 if all went out, 7 if a write failed
//   stdin                 read stdin to its end; exit with the number of bytes read
//   grandchild CODE       start "sleep" holding the output pipe, print its pid, exit CODE
//   sleep MS              sleep, then exit 0
//   system-text CODE      the system's message text for CODE, for scripts that check it
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool Write(HANDLE handle, const char* bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(handle, bytes, size, &written, nullptr) && written == size;
}

bool Write(HANDLE handle, const char* text)
{
    return Write(handle, text, static_cast<DWORD>(strlen(text)));
}

HANDLE Out()
{
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

// Byte i of every pattern run: printable, and never repeating within 251 bytes.
char PatternByte(unsigned long i)
{
    return static_cast<char>('!' + i % 251 % 94);
}

int WritePattern(unsigned long size, int failureCode)
{
    char block[4096];
    for (unsigned long done = 0; done < size;) {
        DWORD n = size - done < sizeof block ? static_cast<DWORD>(size - done) : sizeof block;
        for (DWORD i = 0; i < n; ++i)
            block[i] = PatternByte(done + i);
        if (!Write(Out(), block, n))
            return failureCode;
        done += n;
    }
    return 0;
}

int StartGrandchild(int code)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char commandLine[MAX_PATH + 32];
    snprintf(commandLine, sizeof commandLine, "\"%s\" sleep 60000", self);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Inherits our standard handles, and with them the output pipe.
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return 100;
    char line[64];
    snprintf(line, sizeof line, "grandchild %lu\n", process.dwProcessId);
    Write(Out(), line);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 99;
    const char* mode = argv[1];
    if (!strcmp(mode, "echo") && argc == 4) {
        Write(Out(), argv[2]);
        Write(Out(), "\r\n");
        return static_cast<int>(strtoul(argv[3], nullptr, 0));
    }
    if (!strcmp(mode, "interleave")) {
        const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        for (int i = 0; i < 3; ++i) {
            char line[32];
            snprintf(line, sizeof line, "out %d\n", i);
            Write(Out(), line);
            snprintf(line, sizeof line, "err %d\n", i);
            Write(err, line);
        }
        return 0;
    }
    if (!strcmp(mode, "pattern") && argc == 3)
        return WritePattern(strtoul(argv[2], nullptr, 0), 1);
    if (!strcmp(mode, "flood") && argc == 3)
        return WritePattern(strtoul(argv[2], nullptr, 0), 7);
    if (!strcmp(mode, "stdin")) {
        char block[256];
        DWORD got = 0;
        int total = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), block, sizeof block, &got, nullptr) && got != 0)
            total += static_cast<int>(got);
        return total;
    }
    if (!strcmp(mode, "grandchild") && argc == 3)
        return StartGrandchild(atoi(argv[2]));
    if (!strcmp(mode, "system-text") && argc == 3) {
        char* text = nullptr;
        if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                           strtoul(argv[2], nullptr, 0), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<char*>(&text), 0, nullptr)) {
            Write(Out(), text);
            LocalFree(text);
        }
        return 0;
    }
    if (!strcmp(mode, "sleep") && argc == 3) {
        Sleep(strtoul(argv[2], nullptr, 0));
        return 0;
    }
    return 99;
}
