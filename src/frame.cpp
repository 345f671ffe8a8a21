#include "frame.h"

#include <stdio.h>
#include <string.h>

namespace {

// The system's message text for one code, released with LocalFree when done.
class SystemMessage {
public:
    explicit SystemMessage(DWORD code)
    {
        // No FORMAT_MESSAGE_IGNORE_INSERTS: a message with inserts yields no text.
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text_), 0,
                       nullptr);
    }
    SystemMessage(const SystemMessage&) = delete;
    SystemMessage& operator=(const SystemMessage&) = delete;
    ~SystemMessage()
    {
        if (text_)
            LocalFree(text_);
    }

    const char* Text() const { return text_ ? text_ : ""; }

private:
    char* text_ = nullptr;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

void CopyTruncated(const char* text, char* buffer, DWORD capacity)
{
    if (!buffer || capacity == 0)
        return;
    size_t length = strlen(text);
    if (length > capacity - 1)
        length = capacity - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
}

char* GetSystemErrorText(DWORD code, char* buffer, DWORD capacity)
{
    SystemMessage message(code);
    CopyTruncated(message.Text(), buffer, capacity);
    return buffer;
}

void ReportFailure(DWORD code)
{
    char text[kMessageSize];
    {
        SystemMessage message(code);
        // _snprintf leaves a cut text unterminated.
        _snprintf(text, sizeof text, "Operation failed: errno = %lu\n%s", code, message.Text());
        text[sizeof text - 1] = '\0';
    }
    MessageBoxA(nullptr, text, "Tarvo Setup", MB_OK | MB_ICONWARNING);
}
