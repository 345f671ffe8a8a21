#pragma once

#include <windows.h>

#include "line_decoder.h"
#include "unique_handle.h"

// The thread's enabled top-level windows, disabled for input while a command runs,
// as a modal box does, and enabled again afterwards; none when disable is false.
class DisabledWindows {
public:
    explicit DisabledWindows(bool disable = true);
    DisabledWindows(const DisabledWindows&) = delete;
    DisabledWindows& operator=(const DisabledWindows&) = delete;
    ~DisabledWindows();

private:
    static BOOL CALLBACK Disable(HWND window, LPARAM parameter);

    HWND active_ = nullptr;
    HWND* windows_ = nullptr;
    DWORD count_ = 0;
    DWORD room_ = 0;
};

// The calling thread's messages while it waits: only those that were waiting when
// the wait woke, with the clock looked at between them, and a WM_PAINT at most every
// kPaintRest ms, so that a host that floods its own queue, or a window that is never
// done painting, costs the host its answers, never the limit.
class MessagePump {
public:
    static constexpr DWORD kPaintRest = 20;  // ms after a WM_PAINT before the next one is taken

    // What the wait wakes for (QS_...), and for how long at most it may wait then.
    DWORD WakeMask() const { return PaintRest() > 0 ? QS_ALLINPUT & ~QS_PAINT : QS_ALLINPUT; }
    DWORD LongestWait(DWORD wait) const;
    void Pump(const Deadline& deadline);
    // A WM_QUIT taken from the queue goes back for the host's own loop.
    void RepostQuit() const;

private:
    DWORD PaintRest() const;

    DWORD paintedAt_ = 0;
    bool painted_ = false;
    bool quit_ = false;
    int quitCode_ = 0;
};

// Called when every line read so far has been handed over and the run is about to
// wait for more: the moment for whoever shows the lines to bring the view up to date.
typedef void (*OutputPause)(void* context);

// The child, the job that holds its tree and the pipe that brings its output.
class CommandRun {
public:
    static constexpr DWORD kChunkSize = 65536;  // one read from the pipe

    // Driven from the caller's thread, which pumps its messages while it waits; or,
    // with a stop event, from a thread of its own, which waits for the event as well.
    explicit CommandRun(LineDecoder& lines, OutputPause onPause = nullptr, void* context = nullptr,
                        HANDLE stop = nullptr)
        : lines_(lines), onPause_(onPause), context_(context), stop_(stop)
    {
    }
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;
    ~CommandRun();

    // Starts the program that the command line names with its output pipe, the limit
    // counting from now; 0, or the code for what kept it from starting, with its
    // reason written to reason (nothing of it is left running then).
    DWORD Start(const wchar_t* commandLine, const wchar_t* folder, DWORD timeoutMs, DecodedOutput& reason);
    // Waits while the child runs, pumping the thread's messages, reading its output
    // as it comes. Returns 0, ERROR_TIMEOUT, ERROR_CANCELLED or the code of a wait
    // that failed (after ending the tree).
    DWORD Wait(bool waitForTree);
    DWORD ExitCode() const;
    const Deadline& Limit() const { return deadline_; }
    void RepostQuit() const { pump_.RepostQuit(); }

private:
    DWORD StartChild(wchar_t* commandLine, const wchar_t* program, const wchar_t* folder);
    DWORD CreatePipes(UniqueHandle& inputRead, UniqueHandle& outputWrite);
    void CreateJob();
    void SetJobLimits(DWORD flags);
    void IssueRead();
    DWORD CompleteRead();
    void TakeHeldOutput();
    bool TreeEnded(DWORD waitMs);
    DWORD EndTree(DWORD code);

    LineDecoder& lines_;
    const OutputPause onPause_;
    void* const context_;
    const HANDLE stop_;
    MessagePump pump_;
    UniqueHandle job_, port_, process_, pipe_, event_;
    OVERLAPPED overlapped_ = {};
    Deadline deadline_;
    DWORD lastReadTime_ = 0;
    bool reading_ = false;
    bool stopped_ = false;
    bool treeEnded_ = false;
    char chunk_[kChunkSize];
};
