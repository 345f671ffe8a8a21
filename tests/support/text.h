#pragma once

#include <windows.h>

#include <string>

// UTF-16 text as UTF-8, so that tests compare with u8"" literals and print it.
inline std::string Utf8(const std::wstring& text)
{
    std::string bytes(text.size() * 3, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                                           static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return bytes;
}

// Bytes in a code page (the ANSI one unless told) as UTF-16.
inline std::wstring Wide(const std::string& bytes, UINT codePage = CP_ACP)
{
    std::wstring text(bytes.size() + 1, L'\0');
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                           static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return text;
}
