#pragma once

#include <windows.h>

#include <stdlib.h>

#include <memory>
#include <new>
#include <utility>

// Size of every message the library composes, terminator included.
constexpr DWORD kMessageSize = 1024;

// Writes the system's text for code (line break included) into buffer, cut to
// capacity - 1 bytes and terminated; an empty string when the system has none.
char* GetSystemErrorText(DWORD code, char* buffer, DWORD capacity);

// The same in UTF-16, for the wide exports; writes nothing when buffer is null or
// capacity is 0.
void GetSystemErrorTextW(DWORD code, wchar_t* buffer, DWORD capacity);

// Shows "Operation failed" with code and its system text in the set-up warning box;
// ReportFailureW in the wide box, for the wide exports.
void ReportFailure(DWORD code);
void ReportFailureW(DWORD code);

// Copies at most capacity - 1 bytes of text into buffer and terminates it; writes
// nothing when buffer is null or capacity is 0.
void CopyTruncated(const char* text, char* buffer, DWORD capacity);

// Frees a heap block for std::unique_ptr, so that every path releases it.
struct FreeDeleter {
    void operator()(void* block) const { free(block); }
};

// Destroys an object that MakeOnHeap made and frees its block.
template <typename T>
struct HeapDeleter {
    void operator()(T* object) const
    {
        object->~T();
        free(object);
    }
};

// A T in a heap block of its own, for what a call needs beyond the stack of a host
// that may give it little; null when the memory is lacking (nothing is thrown).
template <typename T, typename... Arguments>
std::unique_ptr<T, HeapDeleter<T>> MakeOnHeap(Arguments&&... arguments)
{
    void* const memory = malloc(sizeof(T));
    return std::unique_ptr<T, HeapDeleter<T>>(memory ? new (memory) T(std::forward<Arguments>(arguments)...)
                                                     : nullptr);
}

// A wall-clock limit that counts from its start; none when it is 0 or INFINITE.
class Deadline {
public:
    Deadline() = default;
    explicit Deadline(DWORD limitMs) : start_(GetTickCount()), limit_(limitMs) {}

    bool Limited() const { return limit_ != 0 && limit_ != INFINITE; }
    bool Passed() const { return Limited() && GetTickCount() - start_ >= limit_; }
    // Milliseconds until it passes; INFINITE without a limit.
    DWORD Left() const
    {
        if (!Limited())
            return INFINITE;
        const DWORD elapsed = GetTickCount() - start_;
        return elapsed < limit_ ? limit_ - elapsed : 0;
    }

private:
    DWORD start_ = 0;
    DWORD limit_ = 0;
};

// Fills a child's start-up record (STARTUPINFOA or STARTUPINFOW, of cb bytes): no
// window shown, and the given pipe ends as its stdin and its stdout and stderr.
template <typename StartupInfo>
void HideChild(StartupInfo& startup, DWORD cb, HANDLE input, HANDLE output)
{
    startup.cb = cb;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
}
