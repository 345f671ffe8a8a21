#pragma once

#include <windows.h>
#include <tlhelp32.h>

// Counts of what this process holds, for proving that calls leave nothing behind.
// GetProcessHandleCount is a stub on Wine, so handles are counted by probing.
struct ProcessCensus {
    int handles = 0;
    int threads = 0;

    static ProcessCensus Take()
    {
        ProcessCensus census;
        DWORD flags = 0;
        for (ULONG_PTR value = 4; value < 0x4000; value += 4)
            if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
                ++census.handles;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == GetCurrentProcessId())
                ++census.threads;
        CloseHandle(snapshot);
        return census;
    }
};
