// RunCommand on real child processes: its results, its lines, its decoding, the
// process tree it ends, and the host's windows while it waits.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "concurrency.h"
#include <tlhelp32.h>

#include "process_census.h"
#include "tarvo_library.h"

namespace {

constexpr DWORD kDetect = TARVO_CODE_PAGE_DETECT;
constexpr wchar_t kSentinel = L'#';



struct Options {
    DWORD codePage = kDetect;
    DWORD timeout = 0;
    DWORD flags = 0;
    DWORD capacity = 65536;
    const wchar_t* folder = nullptr;
    size_t stopAfter = 0;  // lines; 0: never stop
    DWORD lineDelay = 0;   // ms the line handler takes
};

struct Outcome {
    unsigned long result = 0;
    unsigned long exitCode = 0xDEADBEEF;
    std::wstring output;  // the buffer up to its zero
    std::vector<std::wstring> lines;
    std::vector<DWORD> lineTimes;  // ms from the call's start
    DWORD milliseconds = 0;
    size_t stopAfter = 0;
    DWORD lineDelay = 0;
    DWORD start = 0;
};

int __stdcall CollectLine(const wchar_t* line, unsigned long length, void* context)
{
    auto& outcome = *static_cast<Outcome*>(context);
    EXPECT_EQ(wcslen(line), length) << "the line is zero-terminated after length units";
    outcome.lines.emplace_back(line, length);
    outcome.lineTimes.push_back(GetTickCount() - outcome.start);
    Sleep(outcome.lineDelay);
    return outcome.lines.size() == outcome.stopAfter ? 1 : 0;
}

// Runs the command with a buffer of capacity units followed by sentinels, and checks
// that nothing past capacity was touched and that the text is terminated.
Outcome Capture(const wchar_t* commandLine, const Options& options = {})
{
    std::vector<wchar_t> buffer(options.capacity + 16, kSentinel);
    Outcome outcome;
    outcome.stopAfter = options.stopAfter;
    outcome.lineDelay = options.lineDelay;
    outcome.start = GetTickCount();
    outcome.result = TarvoLibrary::Get().runCommand(commandLine, options.folder, options.timeout, options.codePage,
                                                    options.flags, CollectLine, &outcome, buffer.data(),
                                                    options.capacity, &outcome.exitCode);
    outcome.milliseconds = GetTickCount() - outcome.start;
    for (size_t i = options.capacity; i < buffer.size(); ++i)
        EXPECT_EQ(kSentinel, buffer[i]) << "unit " << i << " written past capacity " << options.capacity;
    outcome.output = std::wstring(buffer.data(), wcsnlen(buffer.data(), options.capacity));
    EXPECT_LT(outcome.output.size(), options.capacity) << "text not terminated within capacity";
    return outcome;
}

Outcome Capture(const std::wstring& commandLine, const Options& options = {})
{
    return Capture(commandLine.c_str(), options);
}

// Children that died while the system started them: ERROR_INTERNAL_ERROR, the
// system's own failure, which Wine meets now and then when many children start at
// once, and answers by keeping a handle of its own. No fault of RunCommand's: the
// command is run again.
std::atomic<int> g_diedStarting{0};

Outcome CaptureStarted(const std::wstring& commandLine)
{
    Outcome outcome = Capture(commandLine);
    for (int attempt = 0; outcome.result == ERROR_INTERNAL_ERROR && attempt < 2; ++attempt) {
        ++g_diedStarting;
        outcome = Capture(commandLine);
    }
    return outcome;
}

TEST(RunCommand, ResultsTable)
{
    Options small;
    small.capacity = 5;
    Options utf8Pair;
    utf8Pair.codePage = CP_UTF8;
    utf8Pair.capacity = 3;
    Options reservedFlag;
    reservedFlag.flags = 2;
    Options unknownCodePage;
    unknownCodePage.codePage = 0xFFFF0000;
    const std::wstring systemText = L"(the system's text for the result)";
    const struct {
        const char* name;
        std::wstring commandLine;
        Options options;
        unsigned long result;
        unsigned long exitCode;  // 0xDEADBEEF: not touched
        std::wstring output;
    } rows[] = {
        {"exit code and output", WideChild("echo word 3"), {}, 0, 3, L"word\r\n"},
        {"all 32 bits of the exit code", WideChild("echo done 0xFFFFFFFF"), {}, 0, 0xFFFFFFFF, L"done\r\n"},
        {"output cut at capacity", WideChild("echo word 3"), small, ERROR_MORE_DATA, 3, L"word"},
        {"no half surrogate pair", WideChild("bytes 61f09f988a"), utf8Pair, ERROR_MORE_DATA, 0, L"a"},
        {"stdin at its end from the start", WideChild("stdin"), {}, 0, 0, L""},
        {"reserved flag", WideChild("echo word 3"), reservedFlag, ERROR_INVALID_PARAMETER, 0xDEADBEEF, systemText},
        {"unknown code page", WideChild("echo word 3"), unknownCodePage, ERROR_INVALID_PARAMETER, 0xDEADBEEF,
         systemText},
    };
    for (const auto& row : rows) {
        const Outcome outcome = Capture(row.commandLine, row.options);
        EXPECT_EQ(row.result, outcome.result) << row.name;
        EXPECT_EQ(row.exitCode, outcome.exitCode) << row.name;
        const std::string expected = row.output == systemText ? WideSystemText(row.result) : Utf8(row.output);
        EXPECT_EQ(expected, Utf8(outcome.output)) << row.name;
    }
    const Outcome refused = Capture(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INVALID_PARAMETER), refused.result) << "null command line";
    EXPECT_EQ(WideSystemText(ERROR_INVALID_PARAMETER), Utf8(refused.output)) << "null command line";
    unsigned long exitCode = 0;
    EXPECT_EQ(0u, TarvoLibrary::Get().runCommand(WideChild("echo word 3").c_str(), nullptr, 0, kDetect, 0, nullptr,
                                                 nullptr, nullptr, 0, &exitCode))
        << "no buffer and no line handler";
    EXPECT_EQ(3u, exitCode);
}

// RunCommand runs what the command line names. A program without a folder comes
// from the system's folders, never from beside the host or from the working folder,
// where a test child planted as cmd.exe waits; a path is never guessed at; what the
// system could not take whole is refused before anything runs.
TEST(RunCommand, RunsExactlyWhatTheCommandLineNames)
{
    wchar_t temp[MAX_PATH], current[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring work = std::wstring(temp) + L"tarvo-planted";
    CreateDirectoryW(work.c_str(), nullptr);
    // C:\ may be the administrators' alone (on Windows): then nothing is planted there.
    const std::wstring planted[] = {Wide(ProgramFolder() + "cmd.exe"), work + L"\\cmd.exe", L"C:\\Program.exe"};
    for (const std::wstring& path : planted)
        CopyFileW(Wide(ProgramFolder() + "test-child.exe").c_str(), path.c_str(), FALSE);
    SetCurrentDirectoryW(work.c_str());
    Options inWork;
    inWork.folder = work.c_str();
    // A folder that is there, well past 260 characters: made through \\?\, as the
    // system makes no longer one otherwise.
    const std::wstring deepFolder = work + L"\\" + std::wstring(130, L'd') + L"\\" + std::wstring(130, L'd');
    CreateDirectoryW((L"\\\\?\\" + deepFolder.substr(0, deepFolder.size() - 131)).c_str(), nullptr);
    CreateDirectoryW((L"\\\\?\\" + deepFolder).c_str(), nullptr);
    Options deep;
    deep.folder = deepFolder.c_str();
    const std::string longest(32766 - Child("echo  1").size(), 'x');  // the longest the system takes
    const std::wstring systemText = L"(the system's text)";
    const struct {
        const char* name;
        std::wstring commandLine;
        Options options;
        unsigned long result;
        std::wstring text;  // the output; or the program that the reason names
    } rows[] = {
        {"cmd is the system's", L"cmd /c echo real", inWork, 0, L"real\r\n"},
        {"\"cmd.exe\" is the system's", L"\"cmd.exe\" /c echo real", inWork, 0, L"real\r\n"},
        {"a relative path", L".\\cmd.exe /c echo real", inWork, ERROR_FILE_NOT_FOUND, L".\\cmd.exe"},
        {"a path with a space, unquoted", L"C:\\Program Files\\tarvo\\tool.exe echo planted 5", {},
         ERROR_FILE_NOT_FOUND, L"C:\\Program"},
        {"a name found nowhere", L"no-such-program-tarvo /x", {}, ERROR_FILE_NOT_FOUND, L"no-such-program-tarvo"},
        {"the longest command line", WideChild("echo " + longest + " 1"), {}, 0, Wide(longest + "\r\n")},
        {"a command line too long", WideChild("echo x" + longest + " 1"), {}, ERROR_INVALID_PARAMETER, systemText},
        {"a working folder too long", WideChild("exit"), deep, ERROR_DIRECTORY, systemText},
    };
    for (const auto& row : rows) {
        const Outcome outcome = Capture(row.commandLine, row.options);
        EXPECT_EQ(row.result, outcome.result) << row.name;
        if (row.result == 0)
            EXPECT_EQ(Utf8(row.text), Utf8(outcome.output)) << row.name;
        else if (row.text == systemText)
            EXPECT_EQ(WideSystemText(row.result), Utf8(outcome.output)) << row.name;
        else
            EXPECT_NE(std::wstring::npos, outcome.output.find(L"\"" + row.text + L"\"")) << row.name
                << ": expected a reason that names the program, got " << Utf8(outcome.output);
    }
    SetCurrentDirectoryW(current);
    for (const std::wstring& path : planted)
        DeleteFileW(path.c_str());
    RemoveDirectoryW((L"\\\\?\\" + deepFolder).c_str());
    RemoveDirectoryW((L"\\\\?\\" + deepFolder.substr(0, deepFolder.size() - 131)).c_str());
    RemoveDirectoryW(work.c_str());
}

// A program in a folder that no ANSI code page can spell, run by its full path, and
// such a folder as the working folder.
TEST(RunCommand, FoldersInAnyScript)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tarvo-run-Ωμέγα-Юникод-統一碼";
    const std::wstring program = folder + L"\\tarvo-tool.exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(Wide(ProgramFolder() + "test-child.exe").c_str(), program.c_str(), FALSE));
    Options inFolder;
    inFolder.codePage = CP_UTF8;
    inFolder.folder = folder.c_str();
    const Outcome outcome = Capture(L"\"" + program + L"\" cwd", inFolder);
    EXPECT_EQ(0u, outcome.result);
    EXPECT_EQ(Utf8(folder + L"\r\n"), Utf8(outcome.output)) << "the child's working folder";
    DeleteFileW(program.c_str());
    RemoveDirectoryW(folder.c_str());

    Options missing;
    missing.folder = L"Q:\\no\\such\\folder";
    const Outcome refused = Capture(WideChild("cwd"), missing);
    EXPECT_NE(0u, refused.result) << "a working folder that does not exist";
    EXPECT_EQ(WideSystemText(refused.result), Utf8(refused.output));
}

TEST(RunCommand, LinesComeInOrderWhileTheChildRuns)
{
    const Outcome merged = Capture(WideChild("interleave"));
    EXPECT_EQ((std::vector<std::wstring>{L"out 0", L"err 0", L"out 1", L"err 1", L"out 2", L"err 2"}), merged.lines);
    EXPECT_EQ(L"out 0\nerr 0\nout 1\nerr 1\nout 2\nerr 2\n", merged.output);

    const Outcome breaks = Capture(WideChild("bytes 610d0a0d0a62"));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"", L"b"}), breaks.lines) << "an empty line, and a last one";
    EXPECT_EQ(L"a\r\n\r\nb", breaks.output) << "line breaks as written";
    EXPECT_EQ(1u, Capture(WideChild("bytes 610a")).lines.size()) << "no empty line after a final break";

    Options large;
    large.capacity = 32768;
    const Outcome pieces = Capture(WideChild("pattern 20000"), large);
    ASSERT_EQ(3u, pieces.lines.size()) << "a long line comes in pieces";
    EXPECT_EQ(8192u, pieces.lines[0].size());
    EXPECT_EQ(8192u, pieces.lines[1].size());
    EXPECT_EQ(3616u, pieces.lines[2].size());
    EXPECT_EQ(20000u, pieces.output.size());

    // "tree 0 MS" prints its line, then sleeps.
    const Outcome live = Capture(WideChild("tree 0 1500"));
    ASSERT_EQ(1u, live.lines.size());
    EXPECT_LT(live.lineTimes[0] + 1000, live.milliseconds) << "the line came only when the child ended";

    // A progress line redrawn with bare CRs: each state is a line as it is drawn, and
    // keeps its CR; the buffer has the bytes as written.
    const Outcome progress = Capture(WideChild("progress 1000"));
    EXPECT_EQ((std::vector<std::wstring>{L"get 10%\r", L"get 60%\r", L"get 100%"}), progress.lines);
    EXPECT_EQ(L"get 10%\rget 60%\rget 100%\r\n", progress.output);
    ASSERT_EQ(3u, progress.lines.size());
    EXPECT_LT(progress.lineTimes[0] + 1500, progress.milliseconds) << "the first state came only at the end";

    Options stopFirst;
    stopFirst.stopAfter = 1;
    const Outcome stopped = Capture(WideChild("tree 2 60000"), stopFirst);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_CANCELLED), stopped.result);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_CANCELLED), stopped.exitCode) << "the code the tree was ended with";
    EXPECT_EQ(1u, stopped.lines.size()) << "no line after the handler asked to stop";
    EXPECT_LT(stopped.milliseconds, 30000u);
    for (DWORD id : StartedProcesses(stopped.output))
        EXPECT_TRUE(Ended(id)) << "process " << id << " of the stopped tree still runs";

    // A last line without a break comes only after the child's end; a stop there counts.
    Options stopLast;
    stopLast.stopAfter = 2;
    EXPECT_EQ(static_cast<unsigned long>(ERROR_CANCELLED), Capture(WideChild("bytes 610a62"), stopLast).result)
        << "a stop at the last line";
}

TEST(RunCommand, DecodingTable)
{
    const auto decode = [](const char* bytes, UINT codePage) { return Wide(bytes, codePage); };
    const struct {
        const char* name;
        const char* hex;
        DWORD codePage;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"UTF-8", "c3a90a", CP_UTF8, {L"é"}},
        {"the OEM code page", "820a", CP_OEMCP, {decode("\x82", CP_OEMCP)}},
        {"the ANSI code page", "e90a", CP_ACP, {decode("\xE9", CP_ACP)}},
        {"an installed code page", "e90a", 1252, {L"é"}},
        {"UTF-16LE", "e9000a00", 1200, {L"é"}},
        {"detected: UTF-8, then OEM, line by line", "c3a90a820a", kDetect, {L"é", decode("\x82", CP_OEMCP)}},
        {"detected: UTF-16LE by its mark", "fffee9000a00", kDetect, {L"é"}},
        {"detected: UTF-16LE by its first character", "61000a00e900", kDetect, {L"a", L"é"}},
        {"detected: a single byte", "41", kDetect, {L"A"}},
    };
    // cmd writes é in the OEM code page on Windows (Wine's cmd writes the ANSI one):
    // whatever bytes the system's cmd writes, they come out as the rule decodes them.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string echo = "\"" + std::string(system) + "\\cmd.exe\" /c echo Caf\xE9";
    char written[64] = "";
    ASSERT_EQ(0, TarvoLibrary::Get().execute(echo.c_str(), written, sizeof written));
    const std::string bytes(written, strcspn(written, "\r\n"));
    const bool utf8 = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                          nullptr, 0) > 0;
    const Outcome cmd = Capture(Wide(echo));
    ASSERT_EQ(1u, cmd.lines.size()) << "cmd's echo";
    EXPECT_EQ(Utf8(decode(bytes.c_str(), utf8 ? CP_UTF8 : CP_OEMCP)), Utf8(cmd.lines[0])) << "cmd's echo";

    for (const auto& row : rows) {
        Options options;
        options.codePage = row.codePage;
        const Outcome outcome = Capture(WideChild(std::string("bytes ") + row.hex), options);
        EXPECT_EQ(0u, outcome.result) << row.name;
        ASSERT_EQ(row.lines.size(), outcome.lines.size()) << row.name;
        for (size_t i = 0; i < row.lines.size(); ++i)
            EXPECT_EQ(Utf8(row.lines[i]), Utf8(outcome.lines[i])) << row.name << ", line " << i;
    }
}

TEST(RunCommand, TreeTable)
{
    Options limit;
    limit.timeout = 1000;
    Options wholeTree;
    wholeTree.flags = 1;
    Options wholeTreeLimited = limit;
    wholeTreeLimited.flags = 1;
    const struct {
        const char* name;
        std::string arguments;
        Options options;
        unsigned long result;
        unsigned long exitCode;  // the code the child was ended with, or its own
        DWORD least, most;       // ms the call may take
        bool treeEnded;          // the processes the child started are gone on return
    } rows[] = {
        {"the limit ends the child and what it started", "tree 2 60000", limit, ERROR_TIMEOUT, ERROR_TIMEOUT, 950,
         20000, true},
        {"the limit with a wait for the tree", "grandchild 5 60000", wholeTreeLimited, ERROR_TIMEOUT, 5, 950, 20000,
         true},
        {"a wait for the tree lasts as long as the tree", "grandchild 6 2000", wholeTree, 0, 6, 1500, 20000, true},
        {"without the flag the call returns at the child's exit", "grandchild 7 60000", limit, 0, 7, 0, 20000,
         false},
    };
    for (const auto& row : rows) {
        const Outcome outcome = Capture(WideChild(row.arguments), row.options);
        EXPECT_EQ(row.result, outcome.result) << row.name;
        EXPECT_EQ(row.exitCode, outcome.exitCode) << row.name;
        EXPECT_GE(outcome.milliseconds, row.least) << row.name;
        EXPECT_LE(outcome.milliseconds, row.most) << row.name;
        const std::vector<DWORD> started = StartedProcesses(outcome.output);
        EXPECT_FALSE(started.empty()) << row.name << ": no process ids in " << Utf8(outcome.output);
        for (DWORD id : started) {
            HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
            // What is left must still run a moment later, once the run's job has gone.
            const bool running = process && WaitForSingleObject(process, row.treeEnded ? 0 : 1000) == WAIT_TIMEOUT;
            EXPECT_EQ(!row.treeEnded, running) << row.name << ": process " << id;
            if (process) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
        }
    }
}

// Another thread's WM_NULL to a window, every 50 ms until done, as a watchdog does.
struct Probe {
    HWND window;
    volatile bool done;
    int answered;
    DWORD slowest;

    static DWORD WINAPI Run(void* argument)
    {
        auto& probe = *static_cast<Probe*>(argument);
        while (!probe.done) {
            const DWORD start = GetTickCount();
            DWORD_PTR answer = 0;
            if (SendMessageTimeoutW(probe.window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer)) {
                ++probe.answered;
                const DWORD took = GetTickCount() - start;
                probe.slowest = took > probe.slowest ? took : probe.slowest;
            }
            Sleep(50);
        }
        return 0;
    }
};

// Whether two windows took input, as seen from the line handler during the command.
struct EnabledDuringTheCall {
    HWND wizard, disabled;
    bool wizardEnabled, disabledEnabled;

    static int __stdcall Look(const wchar_t*, unsigned long, void* context)
    {
        auto& seen = *static_cast<EnabledDuringTheCall*>(context);
        seen.wizardEnabled = IsWindowEnabled(seen.wizard) != FALSE;
        seen.disabledEnabled = IsWindowEnabled(seen.disabled) != FALSE;
        return 0;
    }
};

// The thread's windows keep answering while a command runs, and take no input.
TEST(RunCommand, HostWindowsAnswerAndWaitDisabled)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarvoRunCommandTest";
    RegisterClassW(&windowClass);
    HWND wizard = CreateWindowW(L"TarvoRunCommandTest", L"wizard", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
    HWND disabled = CreateWindowW(L"TarvoRunCommandTest", L"disabled", WS_OVERLAPPEDWINDOW | WS_DISABLED, 0, 0, 100,
                                  100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(wizard && disabled);

    Probe probe = {wizard, false, 0, 0};
    HANDLE prober = CreateThread(nullptr, 0, Probe::Run, &probe, 0, nullptr);
    EnabledDuringTheCall seen = {wizard, disabled, true, true};
    unsigned long exitCode = 0;
    EXPECT_EQ(0u, TarvoLibrary::Get().runCommand(WideChild("tree 0 1500").c_str(), nullptr, 0, kDetect, 0,
                                                 EnabledDuringTheCall::Look, &seen, nullptr, 0, &exitCode));
    probe.done = true;
    // A probe still under way is answered here.
    while (MsgWaitForMultipleObjects(1, &prober, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    CloseHandle(prober);

    EXPECT_FALSE(seen.wizardEnabled) << "the wizard took input during the command";
    EXPECT_FALSE(seen.disabledEnabled);
    EXPECT_TRUE(IsWindowEnabled(wizard)) << "the wizard was not enabled again";
    EXPECT_FALSE(IsWindowEnabled(disabled)) << "a window disabled before must stay so";
    EXPECT_GE(probe.answered, 5) << "WM_NULL probes answered during a 1.5 s command";
    EXPECT_LT(probe.slowest, 1000u) << "the slowest answer, in ms";
    DestroyWindow(wizard);
    DestroyWindow(disabled);
}

// Hosts that keep the calling thread busy: a line handler that takes its time, a
// thread that floods the caller's queue, a window that is never done painting. The
// limit holds all the same, give or take one line or one message, and ends the tree.
LRESULT CALLBACK NeverValidated(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == WM_PAINT ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

struct Flood {
    DWORD thread;
    volatile bool done;

    static DWORD WINAPI Post(void* argument)
    {
        auto& flood = *static_cast<Flood*>(argument);
        while (!flood.done)
            PostThreadMessageW(flood.thread, WM_APP, 0, 0);
        return 0;
    }
};

TEST(RunCommand, LimitHoldsWhateverTheHostDoes)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = NeverValidated;
    windowClass.lpszClassName = L"TarvoNeverValidated";
    RegisterClassW(&windowClass);
    const struct {
        const char* name;
        const char* arguments;
        DWORD lineDelay;
        bool flood, unpainted;
    } rows[] = {
        {"a handler that takes 5 ms a line, 2000 lines in one write", "lines 160000 60000", 5, false, false},
        {"a thread that posts to the caller without pause", "tree 2 60000", 0, true, false},
        {"a window whose region is never validated", "tree 2 60000", 0, false, true},
    };
    for (const auto& row : rows) {
        Options options;
        options.timeout = 500;
        options.lineDelay = row.lineDelay;
        Flood flood = {GetCurrentThreadId(), !row.flood};
        HANDLE poster = CreateThread(nullptr, 0, Flood::Post, &flood, 0, nullptr);
        HWND window = row.unpainted ? CreateWindowW(L"TarvoNeverValidated", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                                    0, 200, 200, nullptr, nullptr, nullptr, nullptr)
                                    : nullptr;
        const Outcome outcome = Capture(WideChild(row.arguments), options);
        flood.done = true;
        WaitForSingleObject(poster, INFINITE);
        CloseHandle(poster);
        if (window)
            DestroyWindow(window);
        for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
            ;
        EXPECT_EQ(static_cast<unsigned long>(ERROR_TIMEOUT), outcome.result) << row.name;
        EXPECT_EQ(static_cast<unsigned long>(ERROR_TIMEOUT), outcome.exitCode) << row.name << ": the child was not ended";
        EXPECT_LE(outcome.milliseconds, options.timeout + 300) << row.name << ": ms the call took";
        for (DWORD id : StartedProcesses(outcome.output))
            EXPECT_TRUE(Ended(id)) << row.name << ": process " << id << " of the tree still runs";
    }
}

// StartCommand's runs, waited for later: a number each, every line once and the
// result as often as asked, and ERROR_INVALID_HANDLE for any number not open.
unsigned long Start(const std::wstring& commandLine, DWORD timeoutMs = 0)
{
    unsigned long command = 0;
    wchar_t reason[1024] = L"";
    EXPECT_EQ(0u, TarvoLibrary::Get().startCommand(commandLine.c_str(), nullptr, timeoutMs, kDetect, 0, reason, 1024,
                                                   &command))
        << Utf8(reason);
    return command;
}

// Started by a thread that has ended by the time anybody waits: its output still comes.
unsigned long StartOnEndedThread(const std::wstring& commandLine)
{
    unsigned long command = 0;
    std::thread([&] { command = Start(commandLine); }).join();
    return command;
}

Outcome WaitFor(unsigned long command, DWORD waitMs)
{
    Outcome outcome;
    std::vector<wchar_t> buffer(65536);
    outcome.result = TarvoLibrary::Get().waitCommand(command, waitMs, CollectLine, &outcome, buffer.data(), 65536,
                                                     &outcome.exitCode);
    outcome.output = buffer.data();
    return outcome;
}

// From inside a wait: another wait and a close of the same run are refused; a stop is taken.
int __stdcall CallFromInside(const wchar_t*, unsigned long, void* context)
{
    auto& calls = *static_cast<std::vector<unsigned long>*>(context);  // the run's number, then the results
    const TarvoLibrary& tarvo = TarvoLibrary::Get();
    calls.push_back(tarvo.waitCommand(calls[0], 0, nullptr, nullptr, nullptr, 0, nullptr));
    calls.push_back(tarvo.closeCommand(calls[0]));
    calls.push_back(tarvo.stopCommand(calls[0]));
    return 0;
}

TEST(StartCommand, CallsTable)
{
    const TarvoLibrary& tarvo = TarvoLibrary::Get();
    const unsigned long echo = Start(WideChild("echo word 3")), sleeper = Start(WideChild("sleep 60000"));
    EXPECT_GT(sleeper, echo) << "a number given again";
    const unsigned long orphan = StartOnEndedThread(WideChild("lines 800 300"));
    const Outcome ended = WaitFor(echo, INFINITE), again = WaitFor(echo, INFINITE), running = WaitFor(sleeper, 0);
    const Outcome orphaned = WaitFor(orphan, INFINITE);
    EXPECT_EQ(0u, tarvo.closeCommand(orphan));
    EXPECT_EQ(0u, tarvo.stopCommand(sleeper));
    const Outcome stopped = WaitFor(sleeper, INFINITE);
    EXPECT_EQ(0u, tarvo.closeCommand(echo));
    EXPECT_EQ(0u, tarvo.closeCommand(sleeper));
    std::vector<unsigned long> inside = {Start(WideChild("tree 0 60000"))};
    EXPECT_EQ(TARVO_RUN_STOPPED, tarvo.waitCommand(inside[0], INFINITE, CallFromInside, &inside, nullptr, 0, nullptr));
    EXPECT_EQ((std::vector<unsigned long>{inside[0], ERROR_BUSY, ERROR_BUSY, 0}), inside) << "calls from inside a wait";
    EXPECT_EQ(0u, tarvo.closeCommand(inside[0]));
    const struct {
        const char* name;
        Outcome outcome;
        unsigned long result, exitCode;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"a run that ended", ended, 0, 3, {L"word"}},
        {"the same asked again: no line twice", again, 0, 3, {}},
        {"a run still going", running, TARVO_RUN_STILL_RUNNING, 0xDEADBEEF, {}},
        {"a stopped run", stopped, TARVO_RUN_STOPPED, TARVO_RUN_STOPPED, {}},
        {"a run whose starting thread has ended", orphaned, 0, 0, std::vector<std::wstring>(10, std::wstring(78, L'x'))},
        {"a closed number", WaitFor(echo, 0), ERROR_INVALID_HANDLE, 0xDEADBEEF, {}},
        {"a number never given", WaitFor(0x7FFFFFFF, 0), ERROR_INVALID_HANDLE, 0xDEADBEEF, {}},
        {"no number", WaitFor(0, 0), ERROR_INVALID_HANDLE, 0xDEADBEEF, {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.result, row.outcome.result) << row.name;
        EXPECT_EQ(row.exitCode, row.outcome.exitCode) << row.name;
        EXPECT_EQ(row.lines, row.outcome.lines) << row.name;
    }
    EXPECT_EQ(L"word\r\n", ended.output);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INVALID_HANDLE), tarvo.stopCommand(echo));
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INVALID_HANDLE), tarvo.closeCommand(echo));
    unsigned long command = 0;
    wchar_t reason[1024];
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INVALID_PARAMETER),
              tarvo.startCommand(nullptr, nullptr, 0, kDetect, 0, reason, 1024, &command));
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INVALID_PARAMETER),
              tarvo.startCommand(L"cmd", nullptr, 0, kDetect, 4, reason, 1024, &command)) << "a reserved flag";
    EXPECT_EQ(static_cast<unsigned long>(ERROR_FILE_NOT_FOUND),
              tarvo.startCommand(L"no-such-program-tarvo", nullptr, 0, kDetect, 0, reason, 1024, &command));
    EXPECT_EQ(0u, command) << "no number for a run that did not start";
}

// Both runners hand over the same lines for the same progress output, and keep every
// unit of it as written.
TEST(Runners, ProgressTable)
{
    const struct {
        const char* name;
        std::string written;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"states that a CR ends", "\r### 10.0%\r### 50.0%\r\ndone\r\n", {L"### 10.0%\r", L"### 50.0%", L"done"}},
        {"states that backspaces end", " 15% 3 - a.bin\b\b\b\b\b\b\b\b\b\b\b\b\b\bok\r\n",
         {L" 15% 3 - a.bin\r", L"ok"}},
        {"states erased with blanks and a CR", " 64% + a.bin\r            \r 80% + a.bin\r            \rok\r\n",
         {L" 64% + a.bin\r", L" 80% + a.bin\r", L"ok"}},
    };
    for (const auto& row : rows) {
        std::string hex;
        for (unsigned char byte : row.written) {
            char pair[3];
            snprintf(pair, sizeof pair, "%02x", byte);
            hex += pair;
        }
        const Outcome direct = Capture(WideChild("bytes " + hex));
        const unsigned long command = Start(WideChild("bytes " + hex));
        const Outcome waited = WaitFor(command, INFINITE);
        TarvoLibrary::Get().closeCommand(command);
        for (const Outcome* outcome : {&direct, &waited}) {
            const char* runner = outcome == &direct ? "RunCommand" : "WaitCommand";
            EXPECT_EQ(row.lines, outcome->lines) << row.name << ", " << runner;
            EXPECT_EQ(Wide(row.written), outcome->output) << row.name << ", " << runner;
        }
    }
}

TEST(ReadPercentage, Table)
{
    constexpr unsigned long kNone = TARVO_NO_PERCENTAGE;
    const struct {
        const wchar_t* line;
        unsigned long tenths;
    } cases[] = {
        {L"\r######                    48.8%", 488},         // curl
        {L"  45%        \\\\server\\share\\data.cab", 450},  // robocopy
        {L"[=====                60.2%                 ]", 602},  // DISM
        {L" 86% 5048 - file.bin\r", 860},                // 7-Zip
        {L"0%", 0},
        {L"100%", 1000},
        {L"100.0%", 1000},
        {L"5.25%", 52},
        {L"step 2: 10% then 20%", 200},
        {L"37% done, 101% of the quota", 370},
        {L"1000%", kNone},
        {L"version 1.2.3%", kNone},
        {L"12.%", kNone},
        {L"50 %", kNone},
        {L"%", kNone},
        {L"no percentage", kNone},
        {L"", kNone},
    };
    for (const auto& c : cases) {
        const unsigned long length = static_cast<unsigned long>(wcslen(c.line));
        EXPECT_EQ(c.tenths, TarvoLibrary::Get().readPercentage(c.line, length)) << Utf8(c.line);
    }
    EXPECT_EQ(kNone, TarvoLibrary::Get().readPercentage(L"40%", 2)) << "past the length";
    EXPECT_EQ(kNone, TarvoLibrary::Get().readPercentage(nullptr, 5));
}

// Nobody waits: the limit still ends the tree, the kept output stays within its bound
// while the child's writes wait, and every line comes, in order, at the wait.
TEST(StartCommand, NobodyWaits)
{
    // The limit leaves the tree time to start, however slowly processes start here;
    // the ids are only looked for, then nobody looks until the limit has passed.
    constexpr DWORD kLimit = 5000;
    const DWORD start = GetTickCount();
    const unsigned long limited = Start(WideChild("tree 2 60000"), kLimit);
    std::wstring output;
    for (unsigned long result = TARVO_RUN_STILL_RUNNING;
         StartedProcesses(output).empty() && result == TARVO_RUN_STILL_RUNNING; Sleep(20)) {
        const Outcome look = WaitFor(limited, 0);
        output += look.output;
        result = look.result;
    }
    const std::vector<DWORD> tree = StartedProcesses(output);
    ASSERT_EQ(2u, tree.size()) << "the tree's ids before the limit of " << kLimit << " ms: " << Utf8(output);
    std::vector<HANDLE> processes;
    for (DWORD id : tree)
        processes.push_back(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, processes.data(), TRUE, kLimit + 10000))
        << "the tree outlived the limit";
    EXPECT_GE(GetTickCount() - start, kLimit - 100) << "ms before the tree ended";
    for (HANDLE process : processes) {
        TerminateProcess(process, 1);
        CloseHandle(process);
    }
    EXPECT_EQ(static_cast<unsigned long>(ERROR_TIMEOUT), WaitFor(limited, 10000).result);

    constexpr unsigned long kLines = 200000;  // 2.2 MB, 4.4 MB as UTF-16
    const unsigned long counted = Start(WideChild("count " + std::to_string(kLines)));
    const double before = PrivateKibibytes();  // the run's thread and buffers are there already
    Sleep(3000);
    const double grown = PrivateKibibytes() - before;
    const Outcome all = WaitFor(counted, INFINITE);
    EXPECT_EQ(0u, all.exitCode) << "the child's writes failed";
    EXPECT_LE(grown, TARVO_RUN_KEPT_BYTES / 1024 + 1024) << "KiB of private memory while nobody waited";
    ASSERT_EQ(kLines, all.lines.size());
    for (unsigned long i = 0; i < kLines; ++i)
        if (all.lines[i] != L"line " + std::to_wstring(i))
            FAIL() << "line " << i << " came as " << Utf8(all.lines[i]);
    TarvoLibrary::Get().closeCommand(limited);
    TarvoLibrary::Get().closeCommand(counted);
}

// A host that frees the DLL while a run goes on: the DLL stays until the run's
// thread has left it, then goes, and nothing crashes.
TEST(StartCommand, HostFreesTheDllFirst)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring copy = std::wstring(temp) + L"TarvoSetupFreed.dll";
    ASSERT_TRUE(CopyFileW(Wide(ProgramFolder() + "TarvoSetup.DLL").c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_TRUE(module != nullptr);
    const auto start = reinterpret_cast<decltype(&StartCommand)>(
        reinterpret_cast<void*>(GetProcAddress(module, "StartCommand")));
    unsigned long command = 0;
    ASSERT_EQ(0u, start(WideChild("sleep 1000").c_str(), nullptr, 0, kDetect, 0, nullptr, 0, &command));
    FreeLibrary(module);
    EXPECT_TRUE(GetModuleHandleW(copy.c_str()) != nullptr) << "the DLL went while its run went on";
    for (int waited = 0; GetModuleHandleW(copy.c_str()) && waited < 100; ++waited)
        Sleep(100);
    EXPECT_TRUE(GetModuleHandleW(copy.c_str()) == nullptr) << "the DLL stayed after its run had ended";
    DeleteFileW(copy.c_str());
}

// A host that is killed: run as its own child with TARVO_HOST_TO_KILL set, this
// program starts a RunCommand on a thread and two background runs, each a child with
// grandchildren, and a child whose grandchild leaves the job; it prints their lines,
// then "ready", and waits to be ended. Its tests never run then.
std::atomic<int> g_hostLines{0};

int __stdcall PrintLine(const wchar_t* line, unsigned long, void*)
{
    const std::string text = "line " + Utf8(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ++g_hostLines;
    return 0;
}

bool BeHostToKill()
{
    const TarvoLibrary& tarvo = TarvoLibrary::Get();
    std::thread([&] {
        tarvo.runCommand(WideChild("tree 2 60000").c_str(), nullptr, 0, kDetect, 0, PrintLine, nullptr, nullptr, 0,
                         nullptr);
    }).detach();
    const unsigned long runs[] = {Start(WideChild("tree 2 60000")), Start(WideChild("tree 2 60000")),
                                  Start(WideChild("breakaway 60000"))};
    for (DWORD waited = 0; g_hostLines < 4 && waited < 60000; waited += 50)
        for (unsigned long run : runs)
            tarvo.waitCommand(run, 50 / 3, PrintLine, nullptr, nullptr, 0, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\n", 6, &written, nullptr);
    Sleep(120000);
    ExitProcess(1);
}

const bool g_hostToKill = getenv("TARVO_HOST_TO_KILL") && BeHostToKill();

// The host's output until "ready", or until it ends.
std::string ReadUntilReady(HANDLE output)
{
    std::string text;
    char chunk[256];
    DWORD got = 0;
    while (text.find("ready\n") == std::string::npos && ReadFile(output, chunk, sizeof chunk, &got, nullptr) && got)
        text.append(chunk, got);
    return text;
}

// The test child's processes that these started.
std::vector<DWORD> ChildrenOf(DWORD parent)
{
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == parent && _stricmp(entry.szExeFile, "test-child.exe") == 0)
            children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

// A killed host takes the trees of its runs with it, whatever runs them; a process
// that left the job is not the host's and survives.
TEST(KilledHost, TakesItsRunsWithIt)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = std::string("\"") + self + "\" --gtest_filter=None";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, &inherit, 0));
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write;
    PROCESS_INFORMATION host = {};
    SetEnvironmentVariableA("TARVO_HOST_TO_KILL", "1");
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &host);
    SetEnvironmentVariableA("TARVO_HOST_TO_KILL", nullptr);
    CloseHandle(write);
    ASSERT_TRUE(started);
    const std::string printed = ReadUntilReady(read);
    CloseHandle(read);
    ASSERT_NE(std::string::npos, printed.find("ready\n")) << "the host printed: " << printed;

    std::vector<DWORD> tree = ChildrenOf(host.dwProcessId);
    EXPECT_EQ(4u, tree.size()) << "the host's children";
    DWORD away = 0;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("line tree ", 0) == 0)
            for (DWORD id : StartedProcesses(Wide(line.substr(10))))
                tree.push_back(id);
        if (line.rfind("line breakaway ", 0) == 0)
            away = strtoul(line.c_str() + 15, nullptr, 10);
    }
    EXPECT_EQ(10u, tree.size()) << "three trees of a child and two grandchildren, and the child that left one: "
                                << printed;
    ASSERT_NE(0u, away) << printed;
    std::vector<HANDLE> processes;
    for (DWORD id : tree)
        if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id))
            processes.push_back(process);
    HANDLE left = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, away);
    ASSERT_EQ(tree.size(), processes.size()) << "processes of the trees that ended before the host";

    TerminateProcess(host.hProcess, 1);
    WaitForSingleObject(host.hProcess, INFINITE);
    const DWORD killed = GetTickCount();
    const DWORD gone = WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), TRUE, 1000);
    EXPECT_EQ(WAIT_OBJECT_0, gone) << "the trees outlived their host by a second";
    if (gone == WAIT_OBJECT_0)
        printf("the trees' %u processes ended %lu ms after the host\n", static_cast<unsigned>(processes.size()),
               GetTickCount() - killed);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(left, 0)) << "the process that left the job";
    for (HANDLE process : processes) {
        TerminateProcess(process, 1);
        CloseHandle(process);
    }
    TerminateProcess(left, 1);
    CloseHandle(left);
    CloseHandle(host.hThread);
    CloseHandle(host.hProcess);
}

TEST(RunCommand, ConcurrentCallsLeaveNothingBehind)
{
    const auto call = [](int thread, int index) {
        const std::string word = "t" + std::to_string(thread) + "c" + std::to_string(index);
        const Outcome outcome = CaptureStarted(WideChild("echo " + word + " " + std::to_string(index)));
        return outcome.result == 0 && outcome.exitCode == static_cast<unsigned long>(index) &&
               outcome.output == Wide(word + "\r\n");
    };
    // What the process sets up once for threads and children is not a leak, nor is the
    // message queue that the calling thread gets for the wait.
    RunConcurrently(4, 1, call);
    call(0, 0);
    g_diedStarting = 0;
    const ProcessCensus before = ProcessCensus::Take();
    EXPECT_EQ(0, RunConcurrently(4, 5, call)) << "calls that did not keep their own results";
    Options limit;
    limit.timeout = 300;
    EXPECT_EQ(static_cast<unsigned long>(ERROR_TIMEOUT), Capture(WideChild("tree 1 60000"), limit).result);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_FILE_NOT_FOUND), Capture(L"no-such-program-tarvo.exe").result);
    const ProcessCensus::Opened opened = ProcessCensus::OpenedSince(before, ProcessCensus::kRunKinds);
    EXPECT_LE(opened.ours.size(), static_cast<size_t>(g_diedStarting))
        << "handles of the calls' kinds left: " << Kinds(opened.ours) << " (" << g_diedStarting
        << " children died while the system started them; the system's own opened meanwhile: "
        << Kinds(opened.others) << ")";
    EXPECT_TRUE(opened.threads.empty()) << "threads left, by the module each began in: " << Kinds(opened.threads);
}

// While other threads start their commands, each child gets its own two pipe ends
// and no other: another command's ends would let it write into that command's output
// or hold its pipe open.
TEST(RunCommand, ConcurrentChildrenInheritOnlyTheirOwnEnds)
{
    const auto call = [](int, int) {
        const Outcome outcome = CaptureStarted(WideChild("pipes"));
        if (outcome.result != 0 || outcome.output != L"0\r\n")
            ADD_FAILURE() << "expected a child with no pipe but its own, got result " << outcome.result << " and \""
                          << Utf8(outcome.output) << "\" pipes";
        return true;
    };
    RunConcurrently(4, Rounds(25, 5), call);
}

}  // namespace
