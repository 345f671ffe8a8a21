#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

// The kind of object a handle stands for, as the system names it ("Event", "Key"),
// with "pipe" for a file that is one.
inline std::string HandleKind(HANDLE handle)
{
    struct TypeName {
        USHORT length, room;
        const wchar_t* text;
    };
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    alignas(8) unsigned char information[1024] = {};
    constexpr int kTypeInformation = 2;
    if (!query || query(handle, kTypeInformation, information, sizeof information, nullptr) < 0)
        return "unknown";
    const auto* name = reinterpret_cast<const TypeName*>(information);
    std::string kind;
    for (USHORT i = 0; name->text && i < name->length / 2; ++i)
        kind += static_cast<char>(name->text[i]);
    return kind == "File" && GetFileType(handle) == FILE_TYPE_PIPE ? "pipe" : kind;
}

// The module a thread started in ("TarvoSetup.DLL", "ntdll.dll"): whose thread it is.
inline std::string ThreadModule(DWORD id)
{
    using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    constexpr int kStartAddress = 9;  // ThreadQuerySetWin32StartAddress
    void* start = nullptr;
    HMODULE module = nullptr;
    char path[MAX_PATH] = "unknown";
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    if (thread && query && query(thread, kStartAddress, &start, sizeof start, nullptr) >= 0 &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(start), &module))
        GetModuleFileNameA(module, path, MAX_PATH);
    if (thread)
        CloseHandle(thread);
    const char* name = strrchr(path, '\\');
    return name ? name + 1 : path;
}

// What this process holds, for proving that calls leave nothing behind.
// GetProcessHandleCount is a stub on Wine, so handles are found by probing.
struct ProcessCensus {
    int handles = 0;
    int threads = 0;
    std::vector<ULONG_PTR> values;  // the handles, in order
    std::vector<DWORD> threadIds;   // in order

    // The kinds of handle that Execute opens, and those that RunCommand opens.
    static constexpr const char* kExecuteKinds = "pipe Process Thread";
    static constexpr const char* kRunKinds = "pipe Process Thread Event Job IoCompletion";

    // The handles opened since before: those of the kinds that the calls open, and the
    // others, which the system opens for itself now and then (Wine a registry key, an
    // event). One opened by another thread a moment ago may be closed a moment later:
    // it is given that moment. Threads started since: those that began anywhere but in
    // ntdll, where the system's own workers begin, by the module they began in.
    struct Opened {
        std::vector<std::string> ours, others;
        std::vector<std::string> threads, systemThreads;
    };
    static Opened OpenedSince(const ProcessCensus& before, const char* kinds)
    {
        Opened opened;
        for (int look = 0; look < 10; ++look, Sleep(100)) {
            opened = {};
            for (ULONG_PTR value : Take().values) {
                if (std::binary_search(before.values.begin(), before.values.end(), value))
                    continue;
                const std::string kind = HandleKind(reinterpret_cast<HANDLE>(value));
                const bool ours = (" " + std::string(kinds) + " ").find(" " + kind + " ") != std::string::npos;
                (ours ? opened.ours : opened.others).push_back(kind);
            }
            if (opened.ours.empty())
                break;
        }
        for (DWORD id : Take().threadIds) {
            if (std::binary_search(before.threadIds.begin(), before.threadIds.end(), id))
                continue;
            const std::string module = ThreadModule(id);
            (_stricmp(module.c_str(), "ntdll.dll") == 0 ? opened.systemThreads : opened.threads).push_back(module);
        }
        return opened;
    }

    static ProcessCensus Take()
    {
        ProcessCensus census;
        DWORD flags = 0;
        for (ULONG_PTR value = 4; value < 0x4000; value += 4)
            if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
                census.values.push_back(value);
        census.handles = static_cast<int>(census.values.size());
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == GetCurrentProcessId())
                census.threadIds.push_back(entry.th32ThreadID);
        CloseHandle(snapshot);
        std::sort(census.threadIds.begin(), census.threadIds.end());
        census.threads = static_cast<int>(census.threadIds.size());
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

// The kinds, for a message: "Event, pipe".
inline std::string Kinds(const std::vector<std::string>& kinds)
{
    std::string text;
    for (const std::string& kind : kinds)
        text += (text.empty() ? "" : ", ") + kind;
    return text.empty() ? "none" : text;
}
