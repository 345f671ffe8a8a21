#include "text_decoding.h"

#include <string.h>

namespace {

// What MultiByteToWideChar makes of length bytes (length below 2 GiB); 0 for none.
DWORD Convert(UINT codePage, DWORD flags, const char* bytes, DWORD length, wchar_t* text)
{
    if (length == 0)
        return 0;
    const int units = MultiByteToWideChar(codePage, flags, bytes, static_cast<int>(length), text,
                                          text ? static_cast<int>(length) : 0);
    return units > 0 ? static_cast<DWORD>(units) : 0;
}

}  // namespace

bool IsUtf8(const char* bytes, DWORD length)
{
    return length == 0 || Convert(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, nullptr) != 0;
}

DWORD DecodeBytes(UINT codePage, const char* bytes, DWORD length, wchar_t* text)
{
    return Convert(codePage, 0, bytes, length, text);
}

DWORD DecodeText(const char* bytes, DWORD size, wchar_t* text)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    DWORD units = 0;
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        for (DWORD i = 2; i + 1 < size && (b[i] | b[i + 1]); i += 2)
            text[units++] = static_cast<wchar_t>(b[i] | b[i + 1] << 8);
    } else {
        const bool marked = size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
        const char* start = marked ? bytes + 3 : bytes;
        const DWORD length = static_cast<DWORD>(strnlen(start, size - (marked ? 3 : 0)));
        units = DecodeBytes(marked || IsUtf8(start, length) ? CP_UTF8 : CP_ACP, start, length, text);
    }
    text[units] = L'\0';
    return units;
}
