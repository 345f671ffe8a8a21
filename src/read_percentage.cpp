// ReadPercentage: the percentage that a line or a progress state of a command shows,
// for hosts that move a progress bar with it.
#include <windows.h>

#include "tarvo_setup.h"

namespace {

bool IsDigit(wchar_t unit)
{
    return unit >= L'0' && unit <= L'9';
}

// The number that ends just before text[end] (a percent sign) in tenths, or
// TARVO_NO_PERCENTAGE when it is none from 0 to 100: up to three digits, then a
// point and digits, of which the first counts.
unsigned long NumberBefore(const wchar_t* text, unsigned long end)
{
    unsigned long start = end;
    while (start > 0 && (IsDigit(text[start - 1]) || text[start - 1] == L'.'))
        --start;
    unsigned long whole = 0, digits = 0, at = start;
    for (; at < end && IsDigit(text[at]); ++at, ++digits)
        whole = whole * 10 + static_cast<unsigned long>(text[at] - L'0');
    if (digits == 0 || digits > 3)
        return TARVO_NO_PERCENTAGE;
    unsigned long tenths = whole * 10;
    if (at < end) {  // a point, which digits follow
        if (at + 1 == end || !IsDigit(text[at + 1]))
            return TARVO_NO_PERCENTAGE;
        tenths += static_cast<unsigned long>(text[at + 1] - L'0');
        for (at += 1; at < end; ++at)
            if (!IsDigit(text[at]))
                return TARVO_NO_PERCENTAGE;  // a second point: a version, not a number
    }
    return tenths <= 1000 ? tenths : TARVO_NO_PERCENTAGE;
}

}  // namespace

unsigned long __stdcall ReadPercentage(const wchar_t* line, unsigned long length)
{
    if (!line)
        return TARVO_NO_PERCENTAGE;
    for (unsigned long at = length; at > 0; --at) {
        if (line[at - 1] != L'%')
            continue;
        const unsigned long tenths = NumberBefore(line, at - 1);
        if (tenths != TARVO_NO_PERCENTAGE)
            return tenths;
    }
    return TARVO_NO_PERCENTAGE;
}
