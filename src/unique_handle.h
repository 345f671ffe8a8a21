#pragma once

#include <windows.h>

// Owns one kernel handle and closes it when it goes out of scope, so that every
// path out of a function releases what the function opened. Null and
// INVALID_HANDLE_VALUE (what CreateFile and CreateNamedPipe fail with) are both no
// handle, so a failed open can be taken as it comes.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(Valid(handle)) {}
    UniqueHandle(UniqueHandle&& other) : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other)
    {
        Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    HANDLE Release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

    void Reset(HANDLE handle = nullptr)
    {
        if (handle_)
            CloseHandle(handle_);
        handle_ = Valid(handle);
    }

private:
    static HANDLE Valid(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

    HANDLE handle_ = nullptr;
};
