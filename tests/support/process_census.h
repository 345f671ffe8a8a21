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

// Committed private memory, summed over the address space (Wine does not fill in
// PrivateUsage).
inline double PrivateKibibytes()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
    }
    return static_cast<double>(total) / 1024.0;
}
