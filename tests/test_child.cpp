// The child process that the tests, the example installers and the benchmarks run.
// Writes with WriteFile on the raw standard handles, so that the bytes and their
// order are exactly as stated.
//   exit                  exit 0 at once
//   echo TEXT CODE        TEXT and CR LF to stdout, exit CODE (decimal or 0x hex)
//   interleave            alternating lines to stdout and stderr
//   pattern N             N bytes of a known pattern to stdout, no line break;
//                         exit 0, or 1 if a write failed
//   flood N               the same, but exit 7 if a write failed
//   lines N [MS]          N bytes in lines of 80, CR LF included, then sleep MS; exit
//                         0, or 1
//   count N               "line 0" to "line N-1", each with LF, in writes of 64 KiB;
//                         exit 0, or 1
//   stdin                 read stdin to its end; exit with the number of bytes read
//   stamp                 "stamp QPC" (the time just before exiting), exit 0
//   grandchild CODE [MS]  start "sleep MS" (default 60000), which holds the output
//                         pipe; print "grandchild PID" and a stamp, exit CODE
//   tree N MS             start N of "sleep MS", print "tree PID..." and sleep MS, exit 0
//   breakaway MS          start "sleep MS" out of its job (CREATE_BREAKAWAY_FROM_JOB),
//                         print "breakaway PID" and sleep MS; exit 0, or 100
//   bytes HEX             the bytes that HEX spells (two digits a byte) to stdout, exit 0
//   oem HEX               the UTF-8 text that HEX spells, in the OEM code page, as cmd
//                         writes on Windows; exit 0
//   cwd                   the working folder, UTF-8, and CR LF; exit 0
//   running PID...        which of these processes still run; exit with their number
//   sleep MS              sleep, then exit 0
//   system-text CODE      the system's message text for CODE, for scripts that check it
//   pipes                 how many pipe handles it holds besides its standard ones, and
//                         CR LF; exit 0
//   progress MS           "get 10%" and "get 60%", each ended by a bare CR as a console
//                         progress line redraws, MS apart, then "get 100%" and CR LF; exit 0
//   draw TOOL STEPS MS    progress from 0 to 100% in STEPS states MS apart, as TOOL
//                         (curl, dism: after a CR; 7zip: after backspaces) draws it,
//                         then a last line; erase: after a CR, erased at once with
//                         blanks and a CR, as an archiver's console build draws it, and
//                         no last line; exit 0
//   stamps N MS           N progress states MS apart, "QPC PERCENT%" and a bare CR
//                         each, then "done"; exit 0
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

bool Write(const char* text)
{
    return Write(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(strlen(text)));
}

unsigned long Number(const char* text)
{
    return strtoul(text, nullptr, 0);
}

// Byte i of every pattern run: printable, with period 251.
char PatternByte(unsigned long i)
{
    return static_cast<char>('!' + i % 251 % 94);
}

// Byte i of every run of 80-byte lines.
char LineByte(unsigned long i)
{
    const unsigned long column = i % 80;
    return column == 78 ? '\r' : column == 79 ? '\n' : 'x';
}

bool WriteRun(unsigned long size, char (*byteAt)(unsigned long))
{
    static char block[65536];
    for (unsigned long done = 0; done < size;) {
        const DWORD n = size - done < sizeof block ? static_cast<DWORD>(size - done) : sizeof block;
        for (DWORD i = 0; i < n; ++i)
            block[i] = byteAt(done + i);
        if (!Write(GetStdHandle(STD_OUTPUT_HANDLE), block, n))
            return false;
        done += n;
    }
    return true;
}

void WriteStamp()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char line[64];
    snprintf(line, sizeof line, "stamp %lld\n", now.QuadPart);
    Write(line);
}

int Exit(char**)
{
    return 0;
}

int Echo(char** arguments)
{
    Write(arguments[0]);
    Write("\r\n");
    return static_cast<int>(Number(arguments[1]));
}

int Interleave(char**)
{
    const HANDLE streams[] = {GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
    for (int i = 0; i < 6; ++i) {
        char line[32];
        snprintf(line, sizeof line, "%s %d\n", i % 2 ? "err" : "out", i / 2);
        Write(streams[i % 2], line, static_cast<DWORD>(strlen(line)));
    }
    return 0;
}

int Pattern(char** arguments)
{
    return WriteRun(Number(arguments[0]), PatternByte) ? 0 : 1;
}

int Flood(char** arguments)
{
    return WriteRun(Number(arguments[0]), PatternByte) ? 0 : 7;
}

int Lines(char** arguments)
{
    const bool written = WriteRun(Number(arguments[0]), LineByte);
    Sleep(arguments[1] ? Number(arguments[1]) : 0);
    return written ? 0 : 1;
}

int Count(char** arguments)
{
    static char block[65536];
    DWORD used = 0;
    bool written = true;
    for (unsigned long i = 0, n = Number(arguments[0]); i < n && written; ++i) {
        used += static_cast<DWORD>(snprintf(block + used, 32, "line %lu\n", i));
        if (used > sizeof block - 32 || i + 1 == n) {
            written = Write(GetStdHandle(STD_OUTPUT_HANDLE), block, used);
            used = 0;
        }
    }
    return written ? 0 : 1;
}

int ReadStdin(char**)
{
    char block[256];
    DWORD got = 0;
    int total = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), block, sizeof block, &got, nullptr) && got != 0)
        total += static_cast<int>(got);
    return total;
}

int Stamp(char**)
{
    WriteStamp();
    return 0;
}

// Starts "sleep MS" as a child that inherits our standard handles, and with them
// the output pipe; 0 if it cannot.
DWORD StartSleeper(const char* milliseconds, DWORD flags = 0)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    char commandLine[MAX_PATH + 32];
    snprintf(commandLine, sizeof commandLine, "\"%s\" sleep %s", self, milliseconds);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

int StartGrandchild(char** arguments)
{
    const DWORD pid = StartSleeper(arguments[1] ? arguments[1] : "60000");
    if (!pid)
        return 100;
    char line[64];
    snprintf(line, sizeof line, "grandchild %lu\n", pid);
    Write(line);
    WriteStamp();
    return static_cast<int>(Number(arguments[0]));
}

int StartTree(char** arguments)
{
    Write("tree");
    for (unsigned long i = Number(arguments[0]); i > 0; --i) {
        char pid[16];
        snprintf(pid, sizeof pid, " %lu", StartSleeper(arguments[1]));
        Write(pid);
    }
    Write("\n");
    Sleep(Number(arguments[1]));
    return 0;
}

int StartBreakaway(char** arguments)
{
    const DWORD pid = StartSleeper(arguments[0], CREATE_BREAKAWAY_FROM_JOB);
    if (!pid)
        return 100;
    char line[32];
    snprintf(line, sizeof line, "breakaway %lu\n", pid);
    Write(line);
    Sleep(Number(arguments[0]));
    return 0;
}

// The bytes that hex spells, two digits a byte.
DWORD FromHex(const char* hex, char* bytes, DWORD room)
{
    DWORD count = 0;
    for (; hex[0] && hex[1] && count < room; hex += 2) {
        const char pair[3] = {hex[0], hex[1], 0};
        bytes[count++] = static_cast<char>(strtoul(pair, nullptr, 16));
    }
    return count;
}

int WriteBytes(char** arguments)
{
    char bytes[512];
    const DWORD count = FromHex(arguments[0], bytes, sizeof bytes);
    return Write(GetStdHandle(STD_OUTPUT_HANDLE), bytes, count) ? 0 : 1;
}

int WriteOem(char** arguments)
{
    char utf8[512], oem[512];
    wchar_t text[512];
    const DWORD count = FromHex(arguments[0], utf8, sizeof utf8);
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(count), text, 512);
    const int size = WideCharToMultiByte(CP_OEMCP, 0, text, units, oem, sizeof oem, nullptr, nullptr);
    return Write(GetStdHandle(STD_OUTPUT_HANDLE), oem, static_cast<DWORD>(size)) ? 0 : 1;
}

int WriteWorkingFolder(char**)
{
    wchar_t folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    char bytes[4 * MAX_PATH];
    const int size = WideCharToMultiByte(CP_UTF8, 0, folder, static_cast<int>(length), bytes, sizeof bytes, nullptr,
                                         nullptr);
    Write(GetStdHandle(STD_OUTPUT_HANDLE), bytes, static_cast<DWORD>(size));
    Write("\r\n");
    return 0;
}

int ListRunning(char** arguments)
{
    int running = 0;
    for (; *arguments; ++arguments) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, Number(*arguments));
        if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            Write(*arguments);
            Write("\r\n");
            ++running;
        }
        if (process)
            CloseHandle(process);
    }
    return running;
}

int SleepFor(char** arguments)
{
    Sleep(Number(arguments[0]));
    return 0;
}

int CountPipes(char**)
{
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        const bool standard = handle == GetStdHandle(STD_INPUT_HANDLE) || handle == GetStdHandle(STD_OUTPUT_HANDLE) ||
                              handle == GetStdHandle(STD_ERROR_HANDLE);
        if (!standard && GetHandleInformation(handle, &flags) && GetFileType(handle) == FILE_TYPE_PIPE)
            ++count;
    }
    char text[32];
    snprintf(text, sizeof text, "%d\r\n", count);
    Write(text);
    return 0;
}

int Progress(char** arguments)
{
    static const char* const kStates[] = {"get 10%\r", "get 60%\r"};
    for (const char* state : kStates) {
        Write(state);
        Sleep(Number(arguments[0]));
    }
    Write("get 100%\r\n");
    return 0;
}

// Progress as three common tools draw it on one console line, STEPS states MS apart:
// curl redraws after a CR, DISM too inside brackets, 7-Zip after backspaces.
int Draw(char** arguments)
{
    const char* tool = arguments[0];
    const unsigned long steps = Number(arguments[1]);
    for (unsigned long step = 1; step <= steps; ++step) {
        const unsigned long tenths = step * 1000 / steps;
        char state[128];
        if (!strcmp(tool, "curl")) {
            snprintf(state, sizeof state, "\r%-20.*s %lu.%lu%%", static_cast<int>(tenths / 50),
                     "####################", tenths / 10, tenths % 10);
        } else if (!strcmp(tool, "dism")) {
            snprintf(state, sizeof state, "\r[%-26.*s%lu.%lu%%%26s]", static_cast<int>(tenths / 40),
                     "==========================", tenths / 10, tenths % 10, "");
        } else if (!strcmp(tool, "erase")) {
            const int length = snprintf(state, sizeof state - 64, "%3lu%% + file%lu.bin\r", tenths / 10, step);
            memset(state + length, ' ', static_cast<size_t>(length - 1));
            strcpy(state + 2 * length - 1, "\r");
        } else if (!strcmp(tool, "7zip")) {
            const int length = snprintf(state, sizeof state - 64, "%3lu%% %lu - file%lu.bin", tenths / 10, step, step);
            memset(state + length, '\b', static_cast<size_t>(length));
            state[2 * length] = '\0';
        } else {
            return 99;
        }
        if (!Write(state))
            return 1;
        Sleep(Number(arguments[2]));
    }
    Write(!strcmp(tool, "7zip") ? "Everything is Ok\r\n" : !strcmp(tool, "erase") ? "" : "\r\ndone\r\n");
    return 0;
}

// N progress states MS apart, each with the time it was written: "QPC PERCENT%" and a
// bare CR; then a line.
int StampStates(char** arguments)
{
    const unsigned long states = Number(arguments[0]);
    for (unsigned long state = 1; state <= states; ++state) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        char text[64];
        snprintf(text, sizeof text, "%lld %lu%%\r", now.QuadPart, state * 100 / states);
        if (!Write(text))
            return 1;
        Sleep(Number(arguments[1]));
    }
    Write("done\r\n");
    return 0;
}

int SystemText(char** arguments)
{
    char* text = nullptr;
    if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, Number(arguments[0]),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr)) {
        Write(text);
        LocalFree(text);
    }
    return 0;
}

struct Mode {
    const char* name;
    int least;  // arguments after the mode's name
    int most;
    int (*run)(char** arguments);
};

constexpr Mode kModes[] = {
    {"exit", 0, 0, Exit},
    {"echo", 2, 2, Echo},
    {"interleave", 0, 0, Interleave},
    {"pattern", 1, 1, Pattern},
    {"flood", 1, 1, Flood},
    {"lines", 1, 2, Lines},
    {"count", 1, 1, Count},
    {"stdin", 0, 0, ReadStdin},
    {"stamp", 0, 0, Stamp},
    {"grandchild", 1, 2, StartGrandchild},
    {"tree", 2, 2, StartTree},
    {"breakaway", 1, 1, StartBreakaway},
    {"bytes", 1, 1, WriteBytes},
    {"oem", 1, 1, WriteOem},
    {"cwd", 0, 0, WriteWorkingFolder},
    {"running", 1, 64, ListRunning},
    {"sleep", 1, 1, SleepFor},
    {"system-text", 1, 1, SystemText},
    {"pipes", 0, 0, CountPipes},
    {"progress", 1, 1, Progress},
    {"draw", 3, 3, Draw},
    {"stamps", 2, 2, StampStates},
};

}  // namespace

int main(int argc, char** argv)
{
    for (const Mode& mode : kModes)
        if (argc >= 2 && !strcmp(argv[1], mode.name) && argc - 2 >= mode.least && argc - 2 <= mode.most)
            return mode.run(argv + 2);
    return 99;
}
