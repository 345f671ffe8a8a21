// Measures Execute against the floor that the system sets, from a host without a
// console (as an installer is), and checks it over thousands of calls.
//   bench speed RESULTS TABLE  per-call cost, throughput, exit-to-return time, memory
//   bench endurance RESULTS    10,000 sequential and 8 x 1,000 concurrent calls
// RESULTS receives "key value" lines, TABLE the speed figures as a Markdown table
// (bench/report.py puts it into docs/benchmarks.md; the test kit shows it as it is).
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "concurrency.h"
#include "frame.h"
#include "process_census.h"
#include "tarvo_setup.h"
#include "test_child.h"
#include "text.h"

namespace {

constexpr DWORD kLargeOutput = 64u << 20;

FILE* g_results = nullptr;
std::map<std::string, double> g_figures;

void Record(const char* key, double value)
{
    g_figures[key] = value;
    fprintf(g_results, "%s %.3f\n", key, value);
    fflush(g_results);
}

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const size_t middle = samples.size() / 2;
    return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

void Fail(const char* what)
{
    fprintf(stderr, "bench: %s\n", what);
    fprintf(g_results, "failed %s\n", what);
    exit(1);
}

// The floor for one call: the same child, started and waited for with the same
// creation flags and window settings as Execute uses, with no pipes and no thread.
double StartAndWait(const std::string& commandLine, DWORD flags)
{
    const double start = Now();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &process))
        Fail("CreateProcessA failed");
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return Now() - start;
}

double TimeExecute(const std::string& commandLine, char* buffer, DWORD capacity)
{
    const double start = Now();
    const int result = Execute(commandLine.c_str(), buffer, capacity);
    const double elapsed = Now() - start;
    if (result != 0)
        Fail("Execute did not return the child's 0");
    return elapsed;
}

// The floor for capture: the host reads the child's pipe itself, chunk bytes a read,
// straight into the buffer.
double ReadDirectly(const std::string& commandLine, char* buffer, DWORD capacity, DWORD chunk)
{
    const double start = Now();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    CreatePipe(&read, &write, &attributes, 0);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    HideChild(startup, sizeof startup, nullptr, write);
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        Fail("CreateProcessA failed");
    CloseHandle(write);
    DWORD count = 0, got = 0;
    while (count < capacity - 1 &&
           ReadFile(read, buffer + count, std::min(chunk, capacity - 1 - count), &got, nullptr) && got)
        count += got;
    buffer[count] = '\0';
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(read);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (count != kLargeOutput)
        Fail("the direct read got less than the child wrote");
    return Now() - start;
}

double MegabytesPerSecond(double milliseconds)
{
    return kLargeOutput / 1e6 / (milliseconds / 1000.0);
}

// How long after the child's last act Execute returns, read from the stamp it wrote.
double ExitToReturn(const std::string& commandLine)
{
    char buffer[256];
    if (Execute(commandLine.c_str(), buffer, sizeof buffer) != 0)
        Fail("the stamping child failed");
    const double returned = Now();
    long long stamp = 0;
    const char* line = strstr(buffer, "stamp ");
    if (!line || sscanf(line, "stamp %lld", &stamp) != 1)
        Fail("the stamping child wrote no stamp");
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return returned - static_cast<double>(stamp) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

PROCESS_MEMORY_COUNTERS_EX Memory()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return counters;
}

double TimeRunCommand(const std::string& commandLine, wchar_t* buffer, DWORD capacity)
{
    const std::wstring wide = Wide(commandLine);
    const double start = Now();
    unsigned long exitCode = 1;
    const unsigned long result =
        RunCommand(wide.c_str(), nullptr, 0, 0xFFFFFFFF, 0, nullptr, nullptr, buffer, capacity, &exitCode);
    const double elapsed = Now() - start;
    if (result != 0 || exitCode != 0)
        Fail("RunCommand did not run the child to its 0");
    return elapsed;
}

// From the limit's expiry to the return, for a child that started three processes;
// counts the processes of the tree that are left.
double LimitToReturn(int& left)
{
    const std::wstring command = Wide(Child("tree 3 60000"));
    wchar_t buffer[256];
    const double start = Now();
    const unsigned long result =
        RunCommand(command.c_str(), nullptr, 1000, 0xFFFFFFFF, 0, nullptr, nullptr, buffer, 256, nullptr);
    const double overshoot = Now() - start - 1000;
    if (result != ERROR_TIMEOUT)
        Fail("RunCommand's limit did not end the tree");
    for (const wchar_t* at = wcschr(buffer, L' '); at && *at; ) {
        wchar_t* end = nullptr;
        const DWORD id = wcstoul(at, &end, 10);
        if (end == at)
            break;
        at = end;
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
        if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            ++left;
            TerminateProcess(process, 1);
        }
        if (process)
            CloseHandle(process);
    }
    return overshoot;
}

// The most private memory seen while the lines come, sampled every 4096 lines.
struct MemoryWatch {
    unsigned long lines;
    double most;

    static int __stdcall Line(const wchar_t*, unsigned long, void* context)
    {
        auto& watch = *static_cast<MemoryWatch*>(context);
        if (++watch.lines % 4096 == 0) {
            const double now = PrivateKibibytes();
            watch.most = now > watch.most ? now : watch.most;
        }
        return 0;
    }
};

// A watchdog's WM_NULL to the window, every 50 ms, while a call runs.
struct Responsiveness {
    HWND window;
    volatile bool stop;
    int probes;
    int prompt;  // answered within 100 ms

    static DWORD WINAPI Probe(void* argument)
    {
        auto& r = *static_cast<Responsiveness*>(argument);
        while (!r.stop) {
            const double start = Now();
            DWORD_PTR answer = 0;
            const bool answered = SendMessageTimeoutW(r.window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer) != 0;
            ++r.probes;
            r.prompt += answered && Now() - start <= 100 ? 1 : 0;
            Sleep(50);
        }
        return 0;
    }
};

// The share of probes that a window of the calling thread answered within 100 ms
// while call ran, in percent.
template <typename Call>
double PromptAnswers(Call call)
{
    HWND window = CreateWindowW(L"STATIC", L"bench", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                nullptr, nullptr);
    if (!window)
        Fail("no window for the probes");
    Responsiveness responsiveness = {window, false, 0, 0};
    HANDLE prober = CreateThread(nullptr, 0, Responsiveness::Probe, &responsiveness, 0, nullptr);
    call();
    responsiveness.stop = true;
    while (MsgWaitForMultipleObjects(1, &prober, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    CloseHandle(prober);
    DestroyWindow(window);
    return responsiveness.probes ? 100.0 * responsiveness.prompt / responsiveness.probes : 0;
}

void MeasureRunCommand()
{
    std::vector<double> overshoot;
    int left = 0;
    for (int round = 0; round < 7; ++round)
        overshoot.push_back(LimitToReturn(left));
    Record("limit.return_ms", Median(overshoot));
    Record("limit.left_processes", left);

    static wchar_t buffer[32768];  // 64 KiB
    const std::wstring flood = Wide(Child("lines " + std::to_string(100u << 20)));
    MemoryWatch watch = {0, PrivateKibibytes()};
    const double before = watch.most;
    const double start = Now();
    const unsigned long result = RunCommand(flood.c_str(), nullptr, 0, 0xFFFFFFFF, 0, MemoryWatch::Line, &watch,
                                            buffer, 32768, nullptr);
    const double seconds = (Now() - start) / 1000;
    if (result != ERROR_MORE_DATA || watch.lines != (100u << 20) / 80)
        Fail("RunCommand did not hand over the 100 MiB in lines");
    Record("memory.runcommand_growth_kib", watch.most - before);
    Record("memory.runcommand_lines_per_s", watch.lines / seconds);

    const std::string sleeper = Child("sleep 3000");
    Record("window.execute_prompt_pct", PromptAnswers([&] {
        char output[64];
        Execute(sleeper.c_str(), output, sizeof output);
    }));
    const std::wstring wideSleeper = Wide(sleeper);
    Record("window.runcommand_prompt_pct", PromptAnswers([&] {
        RunCommand(wideSleeper.c_str(), nullptr, 0, 0xFFFFFFFF, 0, nullptr, nullptr, nullptr, 0, nullptr);
    }));
}

// A ratio's median over rounds, and its lowest and highest.
void RecordRatio(const std::string& key, std::vector<double> ratios)
{
    std::sort(ratios.begin(), ratios.end());
    Record(key.c_str(), Median(ratios));
    Record((key + "_low").c_str(), ratios.front());
    Record((key + "_high").c_str(), ratios.back());
}

// A run started and waited for to its end, as a caller of StartCommand does it.
double TimeStartAndWait(const std::wstring& commandLine, wchar_t* buffer, DWORD capacity)
{
    const double start = Now();
    unsigned long command = 0, exitCode = 1;
    if (StartCommand(commandLine.c_str(), nullptr, 0, 0xFFFFFFFF, 0, buffer, capacity, &command) != 0 ||
        WaitCommand(command, INFINITE, nullptr, nullptr, buffer, capacity, &exitCode) != 0 || exitCode != 0)
        Fail("StartCommand and WaitCommand did not run the child to its 0");
    CloseCommand(command);
    return Now() - start;
}

void MeasureStartCommand()
{
    static wchar_t buffer[32768];
    const std::wstring exit = Wide(Child("exit"));
    std::vector<double> ratios;
    for (int round = 0; round < 5; ++round) {
        std::vector<double> run, started;
        for (int call = 0; call < 20; ++call) {
            run.push_back(TimeRunCommand(Child("exit"), buffer, 32768));
            started.push_back(TimeStartAndWait(exit, buffer, 32768));
        }
        ratios.push_back(Median(run) / Median(started));  // of calls per second
    }
    RecordRatio("start.call_ratio", ratios);

    // Four commands of 1 s each, started together.
    const std::wstring second = Wide(Child("sleep 1000"));
    const double start = Now();
    unsigned long commands[4] = {};
    for (unsigned long& command : commands)
        StartCommand(second.c_str(), nullptr, 0, 0xFFFFFFFF, 0, nullptr, 0, &command);
    for (unsigned long command : commands)
        if (WaitCommand(command, INFINITE, nullptr, nullptr, nullptr, 0, nullptr) != 0)
            Fail("one of four overlapping runs did not end well");
    Record("start.overlap_ms", Now() - start);
    for (unsigned long command : commands)
        CloseCommand(command);

    // 100 MiB written while nobody waits for 10 s, then every line at the wait.
    unsigned long flood = 0;
    StartCommand(Wide(Child("lines " + std::to_string(100u << 20))).c_str(), nullptr, 0, 0xFFFFFFFF, 0, nullptr, 0,
                 &flood);
    const double before = PrivateKibibytes();
    Sleep(10000);
    Record("start.unwaited_growth_kib", PrivateKibibytes() - before);
    MemoryWatch watch = {0, 0};
    WaitCommand(flood, INFINITE, MemoryWatch::Line, &watch, nullptr, 0, nullptr);
    Record("start.unwaited_lines", watch.lines);
    CloseCommand(flood);

    // From StopCommand to the wait's return, the tree ended.
    const std::wstring tree = Wide(Child("tree 3 60000"));
    std::vector<double> stops;
    for (int round = 0; round < 7; ++round) {
        unsigned long command = 0;
        StartCommand(tree.c_str(), nullptr, 0, 0xFFFFFFFF, 0, nullptr, 0, &command);
        WaitCommand(command, 500, nullptr, nullptr, nullptr, 0, nullptr);  // the grandchildren have started
        const double stopped = Now();
        StopCommand(command);
        if (WaitCommand(command, INFINITE, nullptr, nullptr, nullptr, 0, nullptr) != ERROR_CANCELLED)
            Fail("StopCommand did not stop the run");
        stops.push_back(Now() - stopped);
        CloseCommand(command);
    }
    Record("start.stop_ms", Median(stops));
}

// NSIS's plug-in call as a section makes it, on a thread of its own, with a string
// size of 1024 UTF-16 units and no extra parameters; its stack holds the arguments.
struct PluginStackItem {
    PluginStackItem* next;
    wchar_t text[1024];
};

struct SectionCall {
    HWND window;
    PluginStackItem* stack;
    wchar_t variables[32][1024];
};

void PushForPlugin(SectionCall& call, const std::wstring& text)
{
    auto* item = static_cast<PluginStackItem*>(GlobalAlloc(GPTR, sizeof(PluginStackItem)));
    lstrcpynW(item->text, text.c_str(), 1024);
    item->next = call.stack;
    call.stack = item;
}

DWORD WINAPI RunSection(void* argument)
{
    auto* call = static_cast<SectionCall*>(argument);
    using PluginCommand = void(__cdecl*)(HWND, int, void*, PluginStackItem**, void*);
    const auto runToLog = reinterpret_cast<PluginCommand>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"TarvoSetup.DLL"), "RunToLog")));
    runToLog(call->window, 1024, call->variables, &call->stack, nullptr);
    return 0;
}

// From a progress state's write to the install page's bar at its percentage, with
// TarvoSetup::RunToLog /PROGRESS on a page made as NSIS makes it: the details list
// (1016), the status text (1006) and the bar (1004, 0 to 30000) on a page in the
// installer's window, all of this thread, while the section's thread runs the command.
void MeasureBarLatency()
{
    InitCommonControls();
    const HWND window = CreateWindowExW(0, L"#32770", L"bench setup", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr,
                                        nullptr, nullptr, nullptr);
    const HWND page = CreateWindowExW(0, L"#32770", L"", WS_CHILD | WS_VISIBLE, 0, 0, 500, 400, window, nullptr,
                                      nullptr, nullptr);
    const HWND status = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 480, 20, page,
                                        reinterpret_cast<HMENU>(1006), nullptr, nullptr);
    CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_NOCOLUMNHEADER, 0, 60, 480, 300,
                    page, reinterpret_cast<HMENU>(1016), nullptr, nullptr);
    const HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 30, 480, 20, page,
                                     reinterpret_cast<HMENU>(1004), nullptr, nullptr);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 30000));
    static SectionCall call = {};
    call.window = window;
    PushForPlugin(call, Wide(Child("stamps 40 100")));
    PushForPlugin(call, L"/PROGRESS");
    const HANDLE section = CreateThread(nullptr, 0, RunSection, &call, 0, nullptr);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> latencies;
    LRESULT shown = 0;
    while (MsgWaitForMultipleObjects(1, &section, FALSE, 1, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        const LRESULT position = SendMessageW(bar, PBM_GETPOS, 0, 0);
        if (position == shown)
            continue;
        shown = position;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        wchar_t text[256] = L"";
        GetWindowTextW(status, text, 256);  // set with the bar: the state it shows
        const long long written = _wtoi64(text);
        if (written > 0)
            latencies.push_back(static_cast<double>(now.QuadPart - written) * 1000.0 / static_cast<double>(frequency.QuadPart));
    }
    CloseHandle(section);
    while (call.stack) {
        PluginStackItem* item = call.stack;
        call.stack = item->next;
        GlobalFree(item);
    }
    DestroyWindow(window);
    Record("progress.bar_latency_ms", latencies.empty() ? -1 : Median(latencies));
    Record("progress.bar_states", static_cast<double>(latencies.size()));
}

void MeasureSpeed()
{
    // Memory first, while nothing else has raised the peak.
    const SIZE_T before = Memory().WorkingSetSize;
    char* large = static_cast<char*>(VirtualAlloc(nullptr, kLargeOutput + 1, MEM_COMMIT, PAGE_READWRITE));
    TimeExecute(Child("pattern " + std::to_string(kLargeOutput)), large, kLargeOutput + 1);
    if (strlen(large) != kLargeOutput)
        Fail("Execute captured less than the child wrote");
    const SIZE_T peak = Memory().PeakWorkingSetSize;
    Record("memory.buffer_mib", kLargeOutput / 1048576.0);
    Record("memory.peak_growth_mib", static_cast<double>(peak - before) / 1048576.0);
    Record("memory.beyond_buffer_kib", (static_cast<double>(peak - before) - kLargeOutput) / 1024.0);

    // Per call: the calls interleaved, so that drift hits all alike, in rounds; a
    // ratio is the median of the rounds' own, with their spread beside it, since a
    // loaded Wine server moves it from round to round.
    constexpr int kCallRounds = 5, kCallsPerRound = 20;
    std::vector<double> execute, floor, detached, run, executeRatios, runRatios;
    char buffer[4096];
    wchar_t wideBuffer[4096];
    for (int round = 0; round < kCallRounds; ++round) {
        std::vector<double> executeRound, floorRound, runRound;
        for (int call = 0; call < kCallsPerRound; ++call) {
            executeRound.push_back(TimeExecute(Child("exit"), buffer, sizeof buffer));
            runRound.push_back(TimeRunCommand(Child("exit"), wideBuffer, 4096));
            floorRound.push_back(StartAndWait(Child("exit"), 0));
            detached.push_back(StartAndWait(Child("exit"), DETACHED_PROCESS));
        }
        executeRatios.push_back(Median(executeRound) / Median(floorRound));
        runRatios.push_back(Median(executeRound) / Median(runRound));  // of calls per second
        execute.insert(execute.end(), executeRound.begin(), executeRound.end());
        floor.insert(floor.end(), floorRound.begin(), floorRound.end());
        run.insert(run.end(), runRound.begin(), runRound.end());
    }
    Record("call.execute_ms", Median(execute));
    Record("call.runcommand_ms", Median(run));
    Record("call.floor_ms", Median(floor));
    Record("call.floor_detached_ms", Median(detached));
    RecordRatio("call.execute_ratio", executeRatios);
    RecordRatio("call.runcommand_ratio", runRatios);

    std::vector<double> captured, direct, best;
    const std::string writer = Child("pattern " + std::to_string(kLargeOutput));
    for (int round = 0; round < 7; ++round) {
        captured.push_back(TimeExecute(writer, large, kLargeOutput + 1));
        direct.push_back(ReadDirectly(writer, large, kLargeOutput + 1, 1024));
        best.push_back(ReadDirectly(writer, large, kLargeOutput + 1, 65536));
    }
    Record("capture.execute_mbps", MegabytesPerSecond(Median(captured)));
    Record("capture.floor_1k_mbps", MegabytesPerSecond(Median(direct)));
    Record("capture.pipe_64k_mbps", MegabytesPerSecond(Median(best)));
    VirtualFree(large, 0, MEM_RELEASE);

    std::vector<double> held, plain;
    for (int round = 0; round < 15; ++round) {
        held.push_back(ExitToReturn(Child("grandchild 0 1500")));
        plain.push_back(ExitToReturn(Child("stamp")));
    }
    Record("exit.grandchild_ms", Median(held));
    Record("exit.plain_ms", Median(plain));
    MeasureRunCommand();
    MeasureStartCommand();
    MeasureBarLatency();
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

void WriteSpeedTable(FILE* table)
{
    std::map<std::string, double>& f = g_figures;
    fprintf(table, "| measure | Execute | floor | ratio | target |\n|---|---|---|---|---|\n");
    const double call = f["call.execute_ms"], floor = f["call.floor_ms"], callRatio = f["call.execute_ratio"];
    fprintf(table, "| one call, child exits at once (ms; ratio: median of 5 rounds of 20, lowest-highest) | %.1f "
            "| %.1f (CreateProcessA + wait, flags 0) | %.2f x (%.2f-%.2f) | at most 1.05 x: %s |\n", call, floor,
            callRatio, f["call.execute_ratio_low"], f["call.execute_ratio_high"], Verdict(callRatio <= 1.05));
    fprintf(table, "| the same child started DETACHED_PROCESS (no console) (ms) | - | %.1f | - | for comparison |\n",
            f["call.floor_detached_ms"]);
    const double rate = f["capture.execute_mbps"], direct = f["capture.floor_1k_mbps"];
    fprintf(table, "| capture of 64 MiB (MB/s) | %.1f | %.1f (host reads 1 KiB at a time) | %.2f x "
            "| at least 0.95 x: %s |\n", rate, direct, rate / direct, Verdict(rate >= 0.95 * direct));
    fprintf(table, "| the pipe's own best, 64 KiB reads (MB/s) | - | %.1f | - | for comparison |\n",
            f["capture.pipe_64k_mbps"]);
    const double held = f["exit.grandchild_ms"];
    fprintf(table, "| child's exit to return, grandchild holds the pipe (ms) | %.1f | %.1f (no grandchild) | - "
            "| under 50 ms: %s |\n", held, f["exit.plain_ms"], Verdict(held < 50));
    fprintf(table, "| host memory while capturing 64 MiB (MiB) | %.1f | %.1f (the buffer) | %+.0f KiB "
            "| buffer + small constant |\n", f["memory.peak_growth_mib"], f["memory.buffer_mib"],
            f["memory.beyond_buffer_kib"]);

    fprintf(table, "\n## RunCommand\n\n| measure | RunCommand | Execute | ratio | target |\n|---|---|---|---|---|\n");
    const double run = f["call.runcommand_ms"], runRatio = f["call.runcommand_ratio"];
    fprintf(table, "| calls per second, child exits at once (interleaved; ratio: median of 5 rounds of 20, "
            "lowest-highest) | %.1f | %.1f | %.2f x (%.2f-%.2f) | at least 0.90 x: %s |\n", 1000 / run, 1000 / call,
            runRatio, f["call.runcommand_ratio_low"], f["call.runcommand_ratio_high"], Verdict(runRatio >= 0.90));
    const double limit = f["limit.return_ms"];
    fprintf(table, "| limit's expiry to the return, child with 3 grandchildren (ms, median of 7) | %.0f | - | - "
            "| under 100 ms: %s |\n", limit, Verdict(limit < 100));
    fprintf(table, "| processes of those trees left after the return | %.0f | - | - | none: %s |\n",
            f["limit.left_processes"], Verdict(f["limit.left_processes"] == 0));
    const double growth = f["memory.runcommand_growth_kib"];
    fprintf(table, "| private memory growth, 100 MiB in 80-byte lines, 64 KiB buffer (KiB) | %.0f | - | - "
            "| under 1024 KiB: %s |\n", growth, Verdict(growth < 1024));
    fprintf(table, "| the same: lines per second through the line handler | %.0f | - | - | for comparison |\n",
            f["memory.runcommand_lines_per_s"]);
    const double prompt = f["window.runcommand_prompt_pct"];
    fprintf(table, "| WM_NULL answered within 100 ms during a 3 s command (%% of probes) | %.0f | %.0f | - "
            "| at least 95 %%: %s |\n", prompt, f["window.execute_prompt_pct"], Verdict(prompt >= 95));

    fprintf(table, "\n## StartCommand and WaitCommand\n\n| measure | figure | target |\n|---|---|---|\n");
    const double startRatio = f["start.call_ratio"];
    fprintf(table, "| calls per second, child exits at once, against RunCommand (median of 5 rounds of 20, "
            "lowest-highest) | %.2f x (%.2f-%.2f) | at least 0.95 x: %s |\n", startRatio, f["start.call_ratio_low"],
            f["start.call_ratio_high"], Verdict(startRatio >= 0.95));
    const double overlap = f["start.overlap_ms"];
    fprintf(table, "| four commands of 1 s each, started together, all done (ms) | %.0f | under 1500: %s |\n", overlap,
            Verdict(overlap < 1500));
    const double unwaited = f["start.unwaited_growth_kib"];
    fprintf(table, "| private memory growth while 100 MiB are written and nobody waits for 10 s (KiB) | %.0f "
            "| at most %u + 1024: %s |\n", unwaited, static_cast<unsigned>(TARVO_RUN_KEPT_BYTES / 1024),
            Verdict(unwaited <= TARVO_RUN_KEPT_BYTES / 1024 + 1024));
    const double lines = f["start.unwaited_lines"];
    fprintf(table, "| the same: lines handed over at the wait | %.0f | all %u: %s |\n", lines, (100u << 20) / 80,
            Verdict(lines == (100u << 20) / 80));
    const double stop = f["start.stop_ms"];
    fprintf(table, "| StopCommand to the wait's return, tree of 3 grandchildren ended (ms, median of 7) | %.0f "
            "| under 100: %s |\n", stop, Verdict(stop < 100));

    fprintf(table, "\n## Progress in the install page's bar\n\n| measure | figure | target |\n|---|---|---|\n");
    const double latency = f["progress.bar_latency_ms"];
    fprintf(table, "| from a progress state's write to the bar at its percentage (`TarvoSetup::RunToLog /PROGRESS`, "
            "ms, median of %.0f states 100 ms apart) | %.0f | under 100: %s |\n", f["progress.bar_states"], latency,
            Verdict(latency >= 0 && latency < 100));
}

// Concurrent calls, each checking its own word; returns how many failed.
int RunEchoes(int threads, int calls)
{
    return RunConcurrently(threads, calls, [](int thread, int call) {
        const std::string word = "w" + std::to_string(thread) + "-" + std::to_string(call);
        char buffer[256];
        return Execute(Child("echo " + word + " 0").c_str(), buffer, sizeof buffer) == 0 && word + "\r\n" == buffer;
    });
}

void RecordCensus(const char* when)
{
    const ProcessCensus census = ProcessCensus::Take();
    const std::string prefix = std::string("endurance.") + when;
    Record((prefix + "_handles").c_str(), census.handles);
    Record((prefix + "_threads").c_str(), census.threads);
    Record((prefix + "_private_kib").c_str(), PrivateKibibytes());
}

void MeasureEndurance()
{
    // What the process sets up once for as many threads and children as it will run
    // at the same time is not growth: Wine keeps what 8 concurrent calls first need.
    RunEchoes(8, 25);
    RecordCensus("start");
    const double start = Now();
    Record("endurance.sequential_failures", RunEchoes(1, 10000));
    Record("endurance.sequential_s", (Now() - start) / 1000.0);
    const double middle = Now();
    Record("endurance.concurrent_failures", RunEchoes(8, 1000));
    Record("endurance.concurrent_s", (Now() - middle) / 1000.0);
    RecordCensus("end");
}

}  // namespace

int main(int argc, char** argv)
{
    const bool speed = argc == 4 && !strcmp(argv[1], "speed");
    if (!speed && !(argc == 3 && !strcmp(argv[1], "endurance"))) {
        fprintf(stderr, "usage: bench speed RESULTS TABLE | bench endurance RESULTS\n");
        return 2;
    }
    g_results = fopen(argv[2], "w");
    if (!g_results)
        return 2;
    if (speed) {
        MeasureSpeed();
        FILE* table = fopen(argv[3], "w");
        if (!table)
            return 2;
        WriteSpeedTable(table);
        fclose(table);
    } else {
        MeasureEndurance();
    }
    fclose(g_results);
    return 0;
}
