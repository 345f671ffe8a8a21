// StartCommand, WaitCommand, StopCommand and CloseCommand: a command that runs while
// the host goes on. The caller's thread starts the same CommandRun that RunCommand
// runs; a thread of the run's own then drives it and keeps what it reads for the waits.
#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "command_run.h"
#include "frame.h"
#include "line_decoder.h"
#include "run_command.h"
#include "start_command.h"

namespace {

constexpr SIZE_T kThreadStack = 256 * 1024;  // bytes reserved for a run's thread

// An array in address space reserved for kMost items and committed as it fills, so
// that it never moves and holds no more memory than it uses, to the next 64 KiB.
template <typename T, DWORD kMost>
class Pile {
public:
    Pile() = default;
    Pile(const Pile&) = delete;
    Pile& operator=(const Pile&) = delete;
    ~Pile()
    {
        if (items_)
            VirtualFree(items_, 0, MEM_RELEASE);
    }

    const T* Items() const { return items_; }
    DWORD Count() const { return count_; }
    void Clear() { count_ = 0; }
    void Swap(Pile& other)
    {
        Pile taken;
        Move(*this, taken);
        Move(other, *this);
        Move(taken, other);
    }

    // False when the items do not fit, or the memory for them is lacking.
    bool Add(const T* items, DWORD count)
    {
        if (count > kMost - count_)
            return false;
        if (!items_)
            items_ = static_cast<T*>(VirtualAlloc(nullptr, kMost * sizeof(T), MEM_RESERVE, PAGE_READWRITE));
        const SIZE_T needed = (count_ + count) * sizeof(T);
        if (!items_ || (needed > committed_ && !Commit(needed)))
            return false;
        memcpy(items_ + count_, items, count * sizeof(T));
        count_ += count;
        return true;
    }

private:
    static void Move(Pile& from, Pile& to)
    {
        to.items_ = from.items_, to.count_ = from.count_, to.committed_ = from.committed_;
        from.items_ = nullptr, from.count_ = 0, from.committed_ = 0;
    }

    bool Commit(SIZE_T needed)
    {
        SIZE_T size = (needed + 0xFFFF) & ~static_cast<SIZE_T>(0xFFFF);
        if (size > kMost * sizeof(T))
            size = kMost * sizeof(T);
        if (!VirtualAlloc(items_, size, MEM_COMMIT, PAGE_READWRITE))
            return false;
        committed_ = size;
        return true;
    }

    T* items_ = nullptr;
    DWORD count_ = 0;
    SIZE_T committed_ = 0;
};

// A line of the kept text: where it starts, and its length without its break.
struct KeptLine {
    DWORD start;
    DWORD length;
};

// Room for what is kept, and for what the end of the tree still brings after a limit
// or a stop, which is cut at this room rather than waited for.
constexpr DWORD kAfterEnd = 65536;
using KeptText = Pile<wchar_t, TARVO_RUN_KEPT_BYTES / sizeof(wchar_t) + kAfterEnd>;
using KeptLines = Pile<KeptLine, TARVO_RUN_KEPT_BYTES / sizeof(KeptLine) + kAfterEnd>;

// What the run's thread has read and nobody has taken yet: the decoded text as
// written, and its lines. Past TARVO_RUN_KEPT_BYTES the reading thread waits for a
// wait to take it, as a child's write waits on a full pipe, until the limit or a stop.
class KeptOutput : public OutputSink {
public:
    KeptOutput() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    bool Ready() const { return static_cast<bool>(arrived_); }
    HANDLE Arrived() const { return arrived_.Get(); }
    void WatchLimit(const Deadline& limit) { limit_ = &limit; }

    // The decoder's output, one line's text at a time, and its line handler, which
    // tells that the text last appended was a line: the two are kept together, so
    // that no wait takes a line's text without the line.
    void Append(const wchar_t* text, DWORD units) override
    {
        Keep(nullptr);  // text that was no line, such as the LF of a CR LF whose line went out alone
        failed_ = failed_ || !staged_.Add(text, units);
    }

    static int __stdcall OnLine(const wchar_t*, unsigned long length, void* context)
    {
        auto& kept = *static_cast<KeptOutput*>(context);
        return kept.Keep(&length) ? 0 : 1;
    }

    void Stop()
    {
        AcquireSRWLockExclusive(&lock_);
        stopping_ = true;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&room_);
    }

    // The run has ended with result: told once the last of its output is kept.
    void End(DWORD result, DWORD exitCode)
    {
        Keep(nullptr);
        AcquireSRWLockExclusive(&lock_);
        result_ = failed_ ? ERROR_NOT_ENOUGH_MEMORY : result;
        exitCode_ = exitCode;
        ended_ = true;
        ReleaseSRWLockExclusive(&lock_);
        SetEvent(arrived_.Get());
    }

    // Moves what is kept into text and lines (emptied first), and tells whether the
    // run had ended by then, with its result.
    bool Take(KeptText& text, KeptLines& lines, DWORD& result, DWORD& exitCode)
    {
        text.Clear();
        lines.Clear();
        AcquireSRWLockExclusive(&lock_);
        text_.Swap(text);
        lines_.Swap(lines);
        const bool ended = ended_;
        result = result_;
        exitCode = exitCode_;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&room_);
        return ended;
    }

private:
    // Moves the staged text, and the line it ends if length is given, to what the waits
    // take, once there is room for it; false once the run is to stop.
    bool Keep(const unsigned long* length)
    {
        if (staged_.Count() == 0 && !length)
            return true;
        AcquireSRWLockExclusive(&lock_);
        while (text_.Count() > 0 && KeptBytes() + staged_.Count() * sizeof(wchar_t) > TARVO_RUN_KEPT_BYTES &&
               !stopping_ && !limit_->Passed())
            SleepConditionVariableSRW(&room_, &lock_, limit_->Left(), 0);
        const KeptLine line = {text_.Count(), length ? static_cast<DWORD>(*length) : 0};
        const bool kept = text_.Add(staged_.Items(), staged_.Count()) && (!length || lines_.Add(&line, 1));
        failed_ = failed_ || (!kept && !stopping_ && !limit_->Passed());
        const bool go = !stopping_ && !failed_;
        ReleaseSRWLockExclusive(&lock_);
        staged_.Clear();
        SetEvent(arrived_.Get());
        return go;
    }

    size_t KeptBytes() const { return text_.Count() * sizeof(wchar_t) + lines_.Count() * sizeof(KeptLine); }

    const UniqueHandle arrived_;  // set whenever text comes, and at the end
    const Deadline* limit_ = nullptr;
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE room_ = CONDITION_VARIABLE_INIT;
    KeptText text_;
    KeptLines lines_;
    Pile<wchar_t, LineDecoder::kLinePiece + 8> staged_;  // a line's text; the reading thread's alone
    bool stopping_ = false;
    bool failed_ = false;
    bool ended_ = false;
    DWORD result_ = 0;
    DWORD exitCode_ = 0;
};

// One run: its decoder, its CommandRun and its thread, shared by the table of open
// runs and the thread, and freed by whichever lets go of it last.
struct BackgroundRun {
    BackgroundRun(DWORD codePage, DWORD flags)
        : stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), lines(codePage, KeptOutput::OnLine, &kept, kept),
          run(lines, nullptr, nullptr, stop.Get()), waitForTree((flags & TARVO_RUN_WAIT_FOR_TREE) != 0),
          keepEnabled((flags & TARVO_RUN_KEEP_WINDOWS_ENABLED) != 0)
    {
        kept.WatchLimit(run.Limit());
    }

    UniqueHandle stop, thread;
    KeptOutput kept;
    LineDecoder lines;
    CommandRun run;
    const bool waitForTree;
    const bool keepEnabled;
    HMODULE module = nullptr;  // the thread's reference to the DLL
    LONG references = 1;
    LONG waiting = 0;  // a wait is under way
    DWORD number = 0;  // given once the child has started; until then nobody finds the run

    // Ends the tree: the reading thread stops waiting for room, and its run for the child.
    void Stop()
    {
        kept.Stop();
        SetEvent(stop.Get());
    }
};

void Release(BackgroundRun* run)
{
    if (InterlockedDecrement(&run->references) == 0)
        HeapDeleter<BackgroundRun>()(run);
}

// The open runs by number; a number, once given, is never given again.
SRWLOCK g_runsLock = SRWLOCK_INIT;
BackgroundRun* g_runs[TARVO_RUN_MOST_OPEN];
DWORD g_lastNumber = 0;

// The open run of that number with a reference for the caller, or null.
BackgroundRun* Find(DWORD number)
{
    BackgroundRun* found = nullptr;
    AcquireSRWLockShared(&g_runsLock);
    for (BackgroundRun* run : g_runs)
        if (run && run->number == number && number != 0) {
            found = run;
            InterlockedIncrement(&found->references);
        }
    ReleaseSRWLockShared(&g_runsLock);
    return found;
}

// Waits for the run to end and keeps its result, then lets go of the DLL.
DWORD WINAPI RunInBackground(void* argument)
{
    auto* run = static_cast<BackgroundRun*>(argument);
    const HMODULE self = run->module;
    const DWORD result = run->run.Wait(run->waitForTree);
    run->kept.End(result, run->run.ExitCode());
    Release(run);
    FreeLibraryAndExitThread(self, 0);
}

// Gives the started run its thread, with a reference to the DLL taken before the
// thread exists: a host that frees the DLL while the run goes on frees it only once
// the thread has left it.
DWORD StartThread(BackgroundRun* run)
{
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunInBackground),
                            &run->module))
        return GetLastError();
    // The thread keeps its buffers on the heap; a small stack is all it needs.
    run->thread.Reset(CreateThread(nullptr, kThreadStack, RunInBackground, run, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                   nullptr));
    if (run->thread)
        return 0;
    const DWORD code = GetLastError();
    FreeLibrary(run->module);
    return code;
}

// Takes the run, for which the caller holds a reference, out of the table, then ends
// its tree and waits for its thread, so that nothing a setup forgot keeps running;
// false when another thread had closed it.
bool Close(BackgroundRun* run)
{
    bool open = false;
    AcquireSRWLockExclusive(&g_runsLock);
    for (BackgroundRun*& slot : g_runs)
        if (slot == run) {
            slot = nullptr;
            open = true;
        }
    ReleaseSRWLockExclusive(&g_runsLock);
    run->Stop();
    WaitForSingleObject(run->thread.Get(), INFINITE);
    if (open)
        Release(run);  // the table's
    return open;
}

bool KnownStartFlags(DWORD flags)
{
    return (flags & ~(TARVO_RUN_WAIT_FOR_TREE | TARVO_RUN_KEEP_WINDOWS_ENABLED)) == 0;
}

// Hands what was kept to the line handler and the buffer; false once the handler
// asked to stop.
bool HandOver(const KeptText& text, const KeptLines& lines, TarvoLineHandler onLine, void* context,
              DecodedOutput& output, wchar_t* line)  // room for a line piece and its zero
{
    output.Append(text.Items(), text.Count());
    for (DWORD i = 0; onLine && i < lines.Count(); ++i) {
        const KeptLine kept = lines.Items()[i];
        wmemcpy(line, text.Items() + kept.start, kept.length);
        EndStateWithCr(line, kept.length);  // the kept text has the backspace as written
        line[kept.length] = L'\0';
        if (onLine(line, kept.length, context) != 0)
            return false;
    }
    return true;
}

}  // namespace

unsigned long __stdcall StartCommand(const wchar_t* commandLine, const wchar_t* folder, unsigned long timeoutMs,
                                     unsigned long codePage, unsigned long flags, wchar_t* buffer,
                                     unsigned long capacity, unsigned long* command)
{
    DecodedOutput reason(buffer, capacity);
    if (!commandLine || !command || !KnownStartFlags(flags) || !KnownCodePage(codePage)) {
        reason.Explain(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    *command = 0;
    auto owned = MakeOnHeap<BackgroundRun>(codePage, flags);
    if (!owned || !owned->stop || !owned->kept.Ready()) {
        reason.Explain(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    BackgroundRun* const run = owned.get();
    run->references = 2;  // the table's and the thread's, set while nobody else can find the run
    AcquireSRWLockExclusive(&g_runsLock);
    BackgroundRun** slot = nullptr;
    for (BackgroundRun*& open : g_runs)
        if (!open && !slot)
            slot = &open;
    if (slot)
        *slot = owned.release();  // numberless, so that nobody else finds it yet
    ReleaseSRWLockExclusive(&g_runsLock);
    if (!slot) {
        reason.Explain(ERROR_NOT_ENOUGH_QUOTA);
        return ERROR_NOT_ENOUGH_QUOTA;
    }

    // Started on the caller's thread, which waits for the start in any case: under
    // Wine a child started from a new thread costs more.
    DWORD result = run->run.Start(commandLine, folder, timeoutMs, reason);
    if (result == 0 && (result = StartThread(run)) != 0) {
        reason.Explain(result);
        run->Stop();
        run->run.Wait(false);  // told to stop, it ends the tree at once
    }
    if (result == 0) {
        AcquireSRWLockExclusive(&g_runsLock);
        *command = run->number = ++g_lastNumber;
        ReleaseSRWLockExclusive(&g_runsLock);
        return 0;
    }
    --run->references;  // the thread's, which never ran
    AcquireSRWLockExclusive(&g_runsLock);
    *slot = nullptr;
    ReleaseSRWLockExclusive(&g_runsLock);
    Release(run);
    return result;
}

unsigned long WaitCommandPausing(unsigned long command, unsigned long waitMs, TarvoLineHandler onLine,
                                 OutputPause onPause, void* context, wchar_t* buffer, unsigned long capacity,
                                 unsigned long* exitCode)
{
    DecodedOutput output(buffer, capacity);
    const std::unique_ptr<wchar_t, FreeDeleter> line(
        static_cast<wchar_t*>(malloc((LineDecoder::kLinePiece + 1) * sizeof(wchar_t))));
    BackgroundRun* const run = line ? Find(command) : nullptr;
    // A wait from inside a wait (its line handler, a message it handles) is refused:
    // the outer one is taking the lines.
    if (!run || InterlockedExchange(&run->waiting, 1) != 0) {
        const DWORD code = !line ? ERROR_NOT_ENOUGH_MEMORY : run ? ERROR_BUSY : ERROR_INVALID_HANDLE;
        if (run)
            Release(run);
        output.Explain(code);
        return code;
    }
    KeptText text;
    KeptLines lines;
    DWORD result = TARVO_RUN_STILL_RUNNING, code = 0;
    bool ended = false;
    {
        const DisabledWindows disabled(!run->keepEnabled);
        const Deadline waited(waitMs);
        MessagePump pump;
        for (;;) {
            ended = run->kept.Take(text, lines, result, code);
            if (!HandOver(text, lines, onLine, context, output, line.get())) {
                run->Stop();
                onLine = nullptr;  // nothing more is handed over
            }
            if (onPause && lines.Count() > 0)
                onPause(context);
            if (ended || waitMs == 0 || waited.Passed())
                break;
            HANDLE arrived = run->kept.Arrived();
            if (MsgWaitForMultipleObjectsEx(1, &arrived, pump.LongestWait(waited.Left()), pump.WakeMask(),
                                            MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1)
                pump.Pump(waited);
        }
        pump.RepostQuit();
    }
    InterlockedExchange(&run->waiting, 0);
    Release(run);
    if (!ended)
        return TARVO_RUN_STILL_RUNNING;
    if (exitCode)
        *exitCode = code;
    return RunResult(result, output);
}

unsigned long __stdcall WaitCommand(unsigned long command, unsigned long waitMs, TarvoLineHandler onLine,
                                    void* context, wchar_t* buffer, unsigned long capacity, unsigned long* exitCode)
{
    return WaitCommandPausing(command, waitMs, onLine, nullptr, context, buffer, capacity, exitCode);
}

unsigned long __stdcall StopCommand(unsigned long command)
{
    BackgroundRun* const run = Find(command);
    if (!run)
        return ERROR_INVALID_HANDLE;
    run->Stop();
    Release(run);
    return 0;
}

unsigned long __stdcall CloseCommand(unsigned long command)
{
    BackgroundRun* const run = Find(command);
    if (!run)
        return ERROR_INVALID_HANDLE;
    const DWORD result = run->waiting ? ERROR_BUSY : Close(run) ? 0 : ERROR_INVALID_HANDLE;
    Release(run);
    return result;
}

void CloseAllCommands()
{
    for (;;) {
        BackgroundRun* run = nullptr;
        AcquireSRWLockShared(&g_runsLock);
        for (BackgroundRun* open : g_runs)
            if (open && open->number != 0 && !run) {
                run = open;
                InterlockedIncrement(&run->references);
            }
        ReleaseSRWLockShared(&g_runsLock);
        if (!run)
            return;
        Close(run);
        Release(run);
    }
}
