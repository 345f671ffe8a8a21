#pragma once

#include <windows.h>

#include <memory>

// A kernel handle of the test machinery, closed when its owner goes.
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// CreateFile's answer as an owner: empty when the open failed.
inline OwnedHandle OwnedFile(HANDLE file)
{
    return OwnedHandle(file != INVALID_HANDLE_VALUE ? file : nullptr);
}
