#include "line_decoder.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "frame.h"
#include "text_decoding.h"

namespace {

// Detection already settled on UTF-8 or OEM, which it tells apart line by line.
constexpr DWORD kDetectEachLine = TARVO_CODE_PAGE_DETECT - 1;

// A state of blanks alone only erases the state before it (an archiver clears each
// state so before it draws the next): it is no line for a handler.
bool IsErasingState(const wchar_t* line, DWORD units)
{
    if (units == 0 || line[units - 1] != L'\r')
        return false;
    for (DWORD i = 0; i + 1 < units; ++i)
        if (line[i] != L' ')
            return false;
    return true;
}

}  // namespace

DecodedOutput::DecodedOutput(wchar_t* buffer, DWORD capacity)
    : buffer_(capacity != 0 ? buffer : nullptr), limit_(buffer_ ? capacity - 1 : 0)
{
    if (buffer_)
        buffer_[0] = L'\0';
}

void DecodedOutput::Append(const wchar_t* text, DWORD units)
{
    if (!buffer_ || units == 0)
        return;
    DWORD take = units < limit_ - count_ ? units : limit_ - count_;
    if (take < units) {
        cut_ = true;
        if (take > 0 && IS_HIGH_SURROGATE(text[take - 1]))
            --take;
    }
    wmemcpy(buffer_ + count_, text, take);
    count_ += take;
    buffer_[count_] = L'\0';
}

void DecodedOutput::Explain(DWORD code)
{
    GetSystemErrorTextW(code, buffer_, buffer_ ? limit_ + 1 : 0);
}

void DecodedOutput::Explain(const wchar_t* format, const wchar_t* argument)
{
    if (!buffer_)
        return;
    _snwprintf(buffer_, limit_ + 1, format, argument);
    buffer_[limit_] = L'\0';
    const size_t length = wcslen(buffer_);
    if (length == limit_ && length > 0 && IS_HIGH_SURROGATE(buffer_[length - 1]))
        buffer_[length - 1] = L'\0';
}

LineDecoder::LineDecoder(DWORD codePage, TarvoLineHandler onLine, void* context, OutputSink& output)
    : codePage_(codePage), onLine_(onLine), context_(context), output_(output)
{
}

bool LineDecoder::Take(const char* bytes, DWORD size)
{
    for (DWORD i = 0; i < size && !stopped_; ++i) {
        if (codePage_ != TARVO_CODE_PAGE_DETECT)
            Store(bytes[i]);
        else
            Recognise(bytes[i]);
    }
    return !stopped_;
}

bool LineDecoder::EndHeldState()
{
    if (crHeld_ && !stopped_) {
        crHeld_ = false;
        Emit(length_);
        crHandedOver_ = true;
    }
    return !stopped_;
}

bool LineDecoder::Finish()
{
    if (codePage_ == TARVO_CODE_PAGE_DETECT && held_) {  // a single byte in all: too little to tell
        codePage_ = kDetectEachLine;
        Store(first_);
    }
    EndHeldState();
    if (length_ > 0 && !stopped_)
        Emit(length_);
    return !stopped_;
}

// UTF-16LE is recognised by the first two bytes: its mark, which is no text, or
// the two bytes of a character below U+0100 (as cmd /u writes).
void LineDecoder::Recognise(char byte)
{
    if (!held_) {
        first_ = byte;
        held_ = true;
        return;
    }
    const bool marked = first_ == '\xFF' && byte == '\xFE';
    codePage_ = marked || (first_ != '\0' && byte == '\0') ? kUtf16CodePage : kDetectEachLine;
    if (!marked) {
        Store(first_);
        Store(byte);
    }
}

void LineDecoder::Store(char byte)
{
    line_[length_++] = byte;
    if (length_ % UnitSize() != 0)  // the first byte of a UTF-16 unit
        return;
    const wchar_t last = LastUnit();
    if (crHandedOver_) {
        crHandedOver_ = false;
        if (last == L'\n' && length_ == UnitSize()) {  // the rest of a CR LF whose line went out alone
            output_.Append(L"\n", 1);
            length_ = 0;
            return;
        }
    }
    if (crHeld_) {
        crHeld_ = false;
        if (last == L'\n') {
            Emit(length_);
            return;
        }
        Emit(length_ - UnitSize());  // a state; this character starts the next line
        if (stopped_)
            return;
    }
    if (last == L'\n')
        Emit(length_);
    else if (last == L'\r')
        crHeld_ = true;
    else if (last == L'\b')
        EndStateAtBackspace();
    else if (length_ >= kLinePiece)
        Emit(PieceLength());
}

// A run of backspaces redraws a progress state as a bare CR does (7-Zip draws its
// progress so): the text before it is a state, handed over with a CR in place of the
// backspace. The rest of the run, and blanks that only erase the state before, are
// output alone.
void LineDecoder::EndStateAtBackspace()
{
    bool blank = true;
    for (DWORD at = 0; at + UnitSize() < length_ && blank; at += UnitSize()) {
        const wchar_t unit = codePage_ == kUtf16CodePage ? Unit(at) : static_cast<wchar_t>(line_[at]);
        blank = unit == L' ' || unit == L'\b';
    }
    if (!blank) {
        Emit(length_);
        return;
    }
    output_.Append(text_, Decode(length_));
    length_ = 0;
}

wchar_t LineDecoder::LastUnit() const
{
    return codePage_ == kUtf16CodePage ? Unit(length_ - 2) : static_cast<unsigned char>(line_[length_ - 1]);
}

// The longest start of a full line that ends between characters.
DWORD LineDecoder::PieceLength() const
{
    DWORD piece = length_;
    if (codePage_ == kUtf16CodePage) {
        piece -= piece % 2;
        if (IS_HIGH_SURROGATE(Unit(piece - 2)))
            piece -= 2;
    } else if (codePage_ == CP_UTF8 || codePage_ == kDetectEachLine) {
        // Back to the start of the last character; if it is complete, keep it.
        DWORD start = piece;
        while (start > 0 && (line_[start - 1] & 0xC0) == 0x80 && piece - start < 3)
            --start;
        if (start > 0 && (line_[start - 1] & 0x80)) {
            const unsigned char lead = static_cast<unsigned char>(line_[start - 1]);
            const DWORD needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (piece - (start - 1) < needed)
                piece = start - 1;
        }
    } else {
        DWORD end = 0;
        while (end < piece) {
            const DWORD next = end + (IsDBCSLeadByteEx(codePage_, static_cast<BYTE>(line_[end])) ? 2 : 1);
            if (next > piece)
                break;
            end = next;
        }
        piece = end;
    }
    return piece > 0 ? piece : length_;
}

wchar_t LineDecoder::Unit(DWORD at) const
{
    return static_cast<wchar_t>(static_cast<unsigned char>(line_[at]) |
                                static_cast<unsigned char>(line_[at + 1]) << 8);
}

DWORD LineDecoder::Decode(DWORD size)
{
    if (codePage_ == kUtf16CodePage) {
        for (DWORD i = 0; i + 1 < size; i += 2)
            text_[i / 2] = Unit(i);
        return size / 2;
    }
    const UINT codePage = codePage_ != kDetectEachLine ? codePage_ : IsUtf8(line_, size) ? CP_UTF8 : CP_OEMCP;
    return DecodeBytes(codePage, line_, size, text_);
}

// Hands over the first size bytes of the line and keeps the rest for the next.
void LineDecoder::Emit(DWORD size)
{
    DWORD units = Decode(size);
    output_.Append(text_, units);
    if (units > 0 && text_[units - 1] == L'\n') {
        --units;
        if (units > 0 && text_[units - 1] == L'\r')
            --units;
    }
    EndStateWithCr(text_, units);
    text_[units] = L'\0';
    expired_ = expired_ || (onLine_ && deadline_ && deadline_->Passed());
    // A host goes on showing the state that blanks erase.
    if (onLine_ && !expired_ && !IsErasingState(text_, units) && onLine_(text_, units, context_) != 0)
        stopped_ = true;
    memmove(line_, line_ + size, length_ - size);
    length_ -= size;
}
