#pragma once

#include <windows.h>

#include "frame.h"
#include "tarvo_setup.h"

// UTF-16LE, which MultiByteToWideChar does not take.
constexpr UINT kUtf16CodePage = 1200;

// Where the decoded output goes as it comes, line breaks as written.
class OutputSink {
public:
    virtual void Append(const wchar_t* text, DWORD units) = 0;

protected:
    ~OutputSink() = default;
};

// The host's buffer as the output fills it: at most capacity - 1 units and a zero,
// never half a surrogate pair.
class DecodedOutput : public OutputSink {
public:
    DecodedOutput(wchar_t* buffer, DWORD capacity);

    bool Cut() const { return cut_; }
    void Append(const wchar_t* text, DWORD units) override;
    // A failure's explanation in place of the output: the system's text for code, or
    // a text of our own with one string argument.
    void Explain(DWORD code);
    void Explain(const wchar_t* format, const wchar_t* argument);

private:
    wchar_t* const buffer_;
    const DWORD limit_;
    DWORD count_ = 0;
    bool cut_ = false;
};

// A progress state that a backspace ended goes to a line handler as one that a CR
// ended: with a CR in place of the backspace.
inline void EndStateWithCr(wchar_t* line, DWORD units)
{
    if (units > 0 && line[units - 1] == L'\b')
        line[units - 1] = L'\r';
}

// Turns the child's bytes into lines: decoded, written to the output as they came,
// and handed to the line handler without their break (LF or CR LF). A bare CR or a
// backspace ends a line too, a progress state that the next one redraws, which comes
// to the handler with a CR at its end, unless it is blanks alone. Lines longer than
// kLinePiece bytes come in pieces, cut between characters.
class LineDecoder {
public:
    static constexpr DWORD kLinePiece = 8192;  // bytes of a line handed over at most at once

    LineDecoder(DWORD codePage, TarvoLineHandler onLine, void* context, OutputSink& output);
    LineDecoder(const LineDecoder&) = delete;
    LineDecoder& operator=(const LineDecoder&) = delete;

    // Past deadline no line goes to the handler any more (the output still fills),
    // however many a read brought: a slow handler cannot hold a run past its limit.
    void HandOverUntil(const Deadline& deadline) { deadline_ = &deadline; }

    // False once the line handler asked to stop; nothing is handed over after that.
    bool Take(const char* bytes, DWORD size);
    // Whether the last thing taken was a CR whose line waits to see if an LF follows.
    bool HoldsCr() const { return crHeld_; }
    // Nothing followed the CR in time: its line is a state, handed over now. False if
    // the line handler asked to stop.
    bool EndHeldState();
    // The child has ended: what is left is its last line, without a break. False if
    // the line handler asked to stop.
    bool Finish();

private:
    void Recognise(char byte);
    void Store(char byte);
    void EndStateAtBackspace();
    DWORD UnitSize() const { return codePage_ == kUtf16CodePage ? 2 : 1; }
    wchar_t LastUnit() const;
    DWORD PieceLength() const;
    wchar_t Unit(DWORD at) const;
    DWORD Decode(DWORD size);
    void Emit(DWORD size);

    DWORD codePage_;
    const TarvoLineHandler onLine_;
    void* const context_;
    OutputSink& output_;
    const Deadline* deadline_ = nullptr;
    bool stopped_ = false;
    bool expired_ = false;
    char first_ = 0;
    bool held_ = false;
    bool crHeld_ = false;       // the line ends in a CR, and what follows it is not yet known
    bool crHandedOver_ = false; // a state went out on its own: an LF now only completes its CR LF
    // A held CR and the character after it may take a line past kLinePiece.
    char line_[kLinePiece + 4];
    DWORD length_ = 0;
    wchar_t text_[kLinePiece + 5];
};
