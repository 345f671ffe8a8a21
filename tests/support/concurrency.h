#pragma once

#include <windows.h>

#include <stdio.h>

#include <functional>
#include <vector>

// How many rounds a case that hunts a rare race makes: the full count, or fewer where
// the tests run on an emulated processor (scripts/wine-run.sh says so to the x86
// tests on a machine that runs no 32-bit code), where each child costs seconds.
inline int Rounds(int full, int underEmulation)
{
    if (GetEnvironmentVariableA("TARVO_UNDER_EMULATION", nullptr, 0) == 0)
        return full;
    printf("under emulation: %d rounds instead of %d\n", underEmulation, full);
    return underEmulation;
}

// One thread's share of RunConcurrently.
struct ConcurrentWorker {
    const std::function<bool(int, int)>* call;
    int thread;
    int calls;
    int failures;

    static DWORD WINAPI Run(void* argument)
    {
        ConcurrentWorker& worker = *static_cast<ConcurrentWorker*>(argument);
        for (int i = 0; i < worker.calls; ++i)
            worker.failures += (*worker.call)(worker.thread, i) ? 0 : 1;
        return 0;
    }
};

// Makes callsPerThread calls of call(thread, index) on each of threads plain system
// threads (so that a census sees only what the calls leave behind), and returns how
// many calls answered false.
inline int RunConcurrently(int threads, int callsPerThread, const std::function<bool(int, int)>& call)
{
    std::vector<ConcurrentWorker> workers;
    for (int t = 0; t < threads; ++t)
        workers.push_back({&call, t, callsPerThread, 0});
    std::vector<HANDLE> handles;
    for (ConcurrentWorker& worker : workers)
        handles.push_back(CreateThread(nullptr, 0, ConcurrentWorker::Run, &worker, 0, nullptr));
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    int failures = 0;
    for (size_t t = 0; t < handles.size(); ++t) {
        CloseHandle(handles[t]);
        failures += workers[t].failures;
    }
    return failures;
}
