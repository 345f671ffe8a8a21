// The child processes that the benchmarks run.
//   exit                 exit at once with 0
//   write BYTES          write BYTES to stdout in blocks of about 64 KiB, exit 0 (1 if a write failed)
//   lines BYTES          the same in lines of 80 bytes, CR LF included
//   echo TEXT            write TEXT to stdout, exit 0
//   stamp                write "stamp QPC" (the time just before exiting), exit 0
//   grandchild MS        like stamp, after starting "sleep MS", which holds the output pipe
//   sleep MS             sleep, exit 0
//   stdin                read stdin to its end, exit 0
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool Write(const void* bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, size, &written, nullptr) && written == size;
}

void WriteStamp()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char line[64];
    const int length = snprintf(line, sizeof line, "stamp %lld\n", now.QuadPart);
    Write(line, static_cast<DWORD>(length));
}

bool StartSleeper(const char* milliseconds)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char commandLine[MAX_PATH + 32];
    snprintf(commandLine, sizeof commandLine, "\"%s\" sleep %s", self, milliseconds);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    if (!strcmp(mode, "exit"))
        return 0;
    if ((!strcmp(mode, "write") || !strcmp(mode, "lines")) && argc == 3) {
        static char block[80 * 819];  // whole lines, just under 64 KiB
        memset(block, 'x', sizeof block);
        if (!strcmp(mode, "lines")) {
            for (size_t end = 80; end <= sizeof block; end += 80) {
                block[end - 2] = '\r';
                block[end - 1] = '\n';
            }
        }
        for (unsigned long left = strtoul(argv[2], nullptr, 0); left > 0;) {
            const DWORD n = left < sizeof block ? left : sizeof block;
            if (!Write(block, n))
                return 1;
            left -= n;
        }
        return 0;
    }
    if (!strcmp(mode, "echo") && argc == 3)
        return Write(argv[2], static_cast<DWORD>(strlen(argv[2]))) ? 0 : 1;
    if (!strcmp(mode, "stamp")) {
        WriteStamp();
        return 0;
    }
    if (!strcmp(mode, "grandchild") && argc == 3) {
        if (!StartSleeper(argv[2]))
            return 2;
        WriteStamp();
        return 0;
    }
    if (!strcmp(mode, "sleep") && argc == 3) {
        Sleep(strtoul(argv[2], nullptr, 0));
        return 0;
    }
    if (!strcmp(mode, "stdin")) {
        char block[256];
        DWORD got = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), block, sizeof block, &got, nullptr) && got != 0) {
        }
        return 0;
    }
    return 99;
}
