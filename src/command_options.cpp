#include "command_options.h"

#include <errno.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include "tarvo_setup.h"

namespace {

// The option's name, when text is /NAME or /NAME=VALUE: its value (empty for /NAME),
// else null.
const wchar_t* Named(const wchar_t* text, const wchar_t* name)
{
    const size_t length = wcslen(name);
    if (_wcsnicmp(text, name, length) != 0)
        return nullptr;
    if (text[length] == L'\0')
        return text + length;
    return text[length] == L'=' ? text + length + 1 : nullptr;
}

// Exit codes separated by commas, each a whole number.
bool ReadCodes(const wchar_t* text, CommandOptions& options)
{
    DWORD count = 0;
    for (const wchar_t* at = text;; ++at) {
        wchar_t code[16];
        const size_t length = wcscspn(at, L",");
        if (length == 0 || length >= 16 || count == CommandOptions::kMostSuccessCodes)
            return false;
        wmemcpy(code, at, length);
        code[length] = L'\0';
        if (!ReadNumber(code, options.successCodes[count++]))
            return false;
        at += length;
        if (*at == L'\0')
            break;
    }
    options.successCount = count;
    return true;
}

}  // namespace

bool CommandOptions::Succeeded(DWORD exitCode) const
{
    for (DWORD i = 0; i < successCount; ++i)
        if (successCodes[i] == exitCode)
            return true;
    return false;
}

bool ReadNumber(const wchar_t* text, DWORD& number)
{
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long value = wcstoul(text, &end, 10);
    if (!iswdigit(text[0]) || *end != L'\0' || errno == ERANGE)
        return false;
    number = value;
    return true;
}

OptionRead ReadOption(const wchar_t* text, DWORD accepted, CommandOptions& options)
{
    const wchar_t* value;
    if ((accepted & kOptionTimeout) && (value = Named(text, L"/TIMEOUT")) != nullptr)
        return value[-1] == L'=' && ReadNumber(value, options.timeoutMs) ? OptionRead::Taken : OptionRead::BadValue;
    if ((accepted & kOptionWaitTree) && (value = Named(text, L"/WAITTREE")) != nullptr && !*value) {
        options.flags |= TARVO_RUN_WAIT_FOR_TREE;
        return OptionRead::Taken;
    }
    if ((accepted & kOptionProgress) && (value = Named(text, L"/PROGRESS")) != nullptr && !*value) {
        options.progress = true;
        return OptionRead::Taken;
    }
    if ((accepted & kOptionCancel) && (value = Named(text, L"/CANCEL")) != nullptr) {
        if (value[-1] == L'=' && !*value)
            return OptionRead::BadValue;
        options.cancel = true;
        if (*value)
            options.question = value;
        return OptionRead::Taken;
    }
    if ((accepted & kOptionSuccess) && (value = Named(text, L"/SUCCESS")) != nullptr)
        return ReadCodes(value, options) ? OptionRead::Taken : OptionRead::BadValue;
    if ((accepted & kOptionHide) && (value = Named(text, L"/HIDE")) != nullptr && !*value) {
        options.hide = true;
        return OptionRead::Taken;
    }
    if ((accepted & kOptionFolder) && (value = Named(text, L"/DIR")) != nullptr) {
        if (!*value)
            return OptionRead::BadValue;
        options.folder = value;
        return OptionRead::Taken;
    }
    return OptionRead::Unknown;
}
