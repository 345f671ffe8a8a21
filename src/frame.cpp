#include "frame.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

// No FORMAT_MESSAGE_IGNORE_INSERTS: a message with inserts yields no text.
constexpr DWORD kSystemMessageFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;

void FormatSystemMessage(DWORD code, char** text)
{
    FormatMessageA(kSystemMessageFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(text), 0, nullptr);
}

void FormatSystemMessage(DWORD code, wchar_t** text)
{
    FormatMessageW(kSystemMessageFlags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<wchar_t*>(text), 0, nullptr);
}

// The system's message text for one code, released with LocalFree when done.
template <typename Char>
class SystemMessage {
public:
    explicit SystemMessage(DWORD code) { FormatSystemMessage(code, &text_); }
    SystemMessage(const SystemMessage&) = delete;
    SystemMessage& operator=(const SystemMessage&) = delete;
    ~SystemMessage()
    {
        if (text_)
            LocalFree(text_);
    }

    const Char* Text() const
    {
        static const Char empty[1] = {};
        return text_ ? text_ : empty;
    }

private:
    Char* text_ = nullptr;
};

// _snprintf and _snwprintf leave a cut text unterminated.
void ComposeWarning(char (&text)[kMessageSize], DWORD code, const char* message)
{
    _snprintf(text, kMessageSize, "Operation failed: errno = %lu\n%s", code, message);
    text[kMessageSize - 1] = '\0';
}

void ComposeWarning(wchar_t (&text)[kMessageSize], DWORD code, const wchar_t* message)
{
    _snwprintf(text, kMessageSize, L"Operation failed: errno = %lu\n%ls", code, message);
    text[kMessageSize - 1] = L'\0';
}

void ShowWarning(const char* text)
{
    MessageBoxA(nullptr, text, "Tarvo Setup", MB_OK | MB_ICONWARNING);
}

void ShowWarning(const wchar_t* text)
{
    MessageBoxW(nullptr, text, L"Tarvo Setup", MB_OK | MB_ICONWARNING);
}

template <typename Char>
void ReportFailureAs(DWORD code)
{
    Char text[kMessageSize];
    {
        SystemMessage<Char> message(code);
        ComposeWarning(text, code, message.Text());
    }
    ShowWarning(text);
}

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
    SystemMessage<char> message(code);
    CopyTruncated(message.Text(), buffer, capacity);
    return buffer;
}

void GetSystemErrorTextW(DWORD code, wchar_t* buffer, DWORD capacity)
{
    if (!buffer || capacity == 0)
        return;
    SystemMessage<wchar_t> message(code);
    size_t length = wcslen(message.Text());
    if (length > capacity - 1)
        length = capacity - 1;
    wmemcpy(buffer, message.Text(), length);
    buffer[length] = L'\0';
}

void ReportFailure(DWORD code)
{
    ReportFailureAs<char>(code);
}

void ReportFailureW(DWORD code)
{
    ReportFailureAs<wchar_t>(code);
}
