// The line decoder, linked straight into this program: the bytes of a child's output
// as they come in reads, and the lines and text they must give.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "line_decoder.h"

namespace {

// A read that stands for a pause: nothing followed a CR in time.
const std::string kQuiet = "<quiet>";

// The bytes of UTF-16LE text.
std::string Utf16(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

struct DecoderCase {
    const char* name;
    DWORD codePage;
    std::vector<std::string> reads;
    std::vector<std::wstring> lines;
    std::wstring output;
};

int __stdcall Collect(const wchar_t* line, unsigned long length, void* context)
{
    static_cast<std::vector<std::wstring>*>(context)->emplace_back(line, length);
    return 0;
}

TEST(LineDecoder, Table)
{
    const DWORD piece = LineDecoder::kLinePiece;
    const std::string longLine(piece - 1, 'a');
    const std::wstring longText(piece - 1, L'a');
    const std::wstring halfPiece(piece / 2 - 1, L'a');
    const std::vector<DecoderCase> cases = {
        {"LF and CR LF end lines", 1252, {"a\nb\r\nc"}, {L"a", L"b", L"c"}, L"a\nb\r\nc"},
        {"CR LF split between reads is one line end", 1252, {"a\r", "\nb\r", "\n"}, {L"a", L"b"}, L"a\r\nb\r\n"},
        {"a bare CR ends a state, which keeps it", 1252, {"10%\r60%\r", "100%\r\n"}, {L"10%\r", L"60%\r", L"100%"},
         L"10%\r60%\r100%\r\n"},
        {"a state at the end", 1252, {"done\r"}, {L"done\r"}, L"done\r"},
        {"a state that went out alone, then its LF", 1252, {"x\r", kQuiet, "\ny\n"}, {L"x\r", L"y"}, L"x\r\ny\n"},
        {"UTF-16 states and lines", kUtf16CodePage, {Utf16(L"1%\r"), Utf16(L"2%\r\nok\n")},
         {L"1%\r", L"2%", L"ok"}, L"1%\r2%\r\nok\n"},
        {"backspaces end a state as a CR does; blanks that erase one are none", 1252,
         {"5% a\b\b\b\b", "50% b\b\b\b\b    \b\b\b\b", "ok\r\n"}, {L"5% a\r", L"50% b\r", L"ok"},
         L"5% a\b\b\b\b50% b\b\b\b\b    \b\b\b\bok\r\n"},
        {"blanks after a CR that erase a state are none, as is an empty state", 1252,
         {" 64% + a.bin\r        ", "    \r 80% + a.bin\r            \r\rok\r\n"},
         {L" 64% + a.bin\r", L" 80% + a.bin\r", L"ok"},
         L" 64% + a.bin\r            \r 80% + a.bin\r            \r\rok\r\n"},
        {"UTF-16 backspaces", kUtf16CodePage, {Utf16(L"7%\b\b9%\b\bok\n")}, {L"7%\r", L"9%\r", L"ok"},
         L"7%\b\b9%\b\bok\n"},
        {"UTF-16 keeps a surrogate pair whole at a piece's end", kUtf16CodePage,
         {Utf16(halfPiece + L"\U0001F600\n")}, {halfPiece, L"\U0001F600"}, halfPiece + L"\U0001F600\n"},
        {"UTF-8 backs off to a character's start at a piece's end", CP_UTF8, {longLine + "\xC3\xA9\n"},
         {longText, L"\u00E9"}, longText + L"\u00E9\n"},
        {"a double-byte code page keeps a character whole at a piece's end", 932, {longLine + "\x82\xA0\n"},
         {longText, L"\u3042"}, longText + L"\u3042\n"},
        {"detection: UTF-16 by its mark", TARVO_CODE_PAGE_DETECT, {"\xFF\xFE" + Utf16(L"\u00E9\n")}, {L"\u00E9"},
         L"\u00E9\n"},
        {"detection: a single byte in all", TARVO_CODE_PAGE_DETECT, {"x"}, {L"x"}, L"x"},
    };
    for (const DecoderCase& c : cases) {
        std::vector<wchar_t> buffer(3 * piece, L'#');
        DecodedOutput output(buffer.data(), static_cast<DWORD>(buffer.size()));
        std::vector<std::wstring> lines;
        LineDecoder decoder(c.codePage, Collect, &lines, output);
        for (const std::string& read : c.reads) {
            if (read == kQuiet)
                EXPECT_TRUE(decoder.EndHeldState()) << c.name;
            else
                EXPECT_TRUE(decoder.Take(read.data(), static_cast<DWORD>(read.size()))) << c.name;
        }
        EXPECT_TRUE(decoder.Finish()) << c.name;
        EXPECT_EQ(c.lines, lines) << c.name;
        EXPECT_EQ(c.output, std::wstring(buffer.data())) << c.name;
    }
}

}  // namespace
