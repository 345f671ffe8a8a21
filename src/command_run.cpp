#include "command_run.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <memory>

#include "frame.h"
#include "program_search.h"

namespace {

constexpr DWORD kEndedTreeGrace = 5000;  // ms to see an ended tree go, at most
constexpr DWORD kTreePollInterval = 20;  // ms between looks at the job while waiting for the tree
constexpr DWORD kStateWait = 50;         // ms a CR waits for an LF before its line goes out alone
constexpr size_t kLongestCommandLine = 32767;  // units, terminator included, that CreateProcessW takes

// The attribute that lets a child inherit exactly the handles named, whatever other
// threads of the host start meanwhile with handles of their own marked inheritable.
class InheritedHandles {
public:
    InheritedHandles(HANDLE first, HANDLE second) : handles_{first, second} {}
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    ~InheritedHandles()
    {
        if (initialized_)
            DeleteProcThreadAttributeList(List());
    }

    // 0, or the system's code for what failed.
    DWORD Prepare()
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        memory_.reset(malloc(size));
        if (!memory_)
            return ERROR_NOT_ENOUGH_MEMORY;
        if (!InitializeProcThreadAttributeList(List(), 1, 0, &size))
            return GetLastError();
        initialized_ = true;
        if (!UpdateProcThreadAttribute(List(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_, sizeof handles_,
                                       nullptr, nullptr))
            return GetLastError();
        return 0;
    }

    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory_.get()); }

private:
    HANDLE handles_[2];
    std::unique_ptr<void, FreeDeleter> memory_;
    bool initialized_ = false;
};

}  // namespace

DisabledWindows::DisabledWindows(bool disable)
{
    if (!disable)
        return;
    active_ = GetActiveWindow();
    EnumThreadWindows(GetCurrentThreadId(), Disable, reinterpret_cast<LPARAM>(this));
}

DisabledWindows::~DisabledWindows()
{
    bool wasActive = false;
    for (DWORD i = count_; i-- > 0;) {
        EnableWindow(windows_[i], TRUE);
        wasActive = wasActive || windows_[i] == active_;
    }
    if (wasActive && IsWindow(active_))
        SetActiveWindow(active_);
    free(windows_);
}

BOOL CALLBACK DisabledWindows::Disable(HWND window, LPARAM parameter)
{
    auto* self = reinterpret_cast<DisabledWindows*>(parameter);
    if (!IsWindowEnabled(window))
        return TRUE;
    if (self->count_ == self->room_) {
        const DWORD room = self->room_ ? 2 * self->room_ : 8;
        auto* grown = static_cast<HWND*>(realloc(self->windows_, room * sizeof(HWND)));
        if (!grown)
            return FALSE;
        self->windows_ = grown;
        self->room_ = room;
    }
    EnableWindow(window, FALSE);
    self->windows_[self->count_++] = window;
    return TRUE;
}

CommandRun::~CommandRun()
{
    // A read still under way writes into chunk_ until it is known to have ended.
    if (reading_ && CancelIoEx(pipe_.Get(), &overlapped_)) {
        DWORD got = 0;
        GetOverlappedResult(pipe_.Get(), &overlapped_, &got, TRUE);
    }
}

DWORD CommandRun::Start(const wchar_t* commandLine, const wchar_t* folder, DWORD timeoutMs, DecodedOutput& reason)
{
    deadline_ = Deadline(timeoutMs);
    lines_.HandOverUntil(deadline_);
    // The system cuts a longer command line short, and the child would act on what
    // is left of it; a longer working folder corrupts the host's heap under Wine.
    if (wcslen(commandLine) >= kLongestCommandLine) {
        reason.Explain(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    if (folder && wcslen(folder) >= MAX_PATH) {
        reason.Explain(ERROR_DIRECTORY);
        return ERROR_DIRECTORY;
    }
    ProgramPath program;
    if (DWORD code = program.Find(commandLine, reason))
        return code;
    // CreateProcessW may write into the command line it is given.
    const std::unique_ptr<wchar_t, FreeDeleter> command(_wcsdup(commandLine));
    const DWORD code = command ? StartChild(command.get(), program.Get(), folder) : ERROR_NOT_ENOUGH_MEMORY;
    if (code != 0)
        reason.Explain(code);
    return code;
}

DWORD CommandRun::StartChild(wchar_t* commandLine, const wchar_t* program, const wchar_t* folder)
{
    UniqueHandle inputRead, outputWrite;
    if (DWORD code = CreatePipes(inputRead, outputWrite))
        return code;
    InheritedHandles inherited(inputRead.Get(), outputWrite.Get());
    if (DWORD code = inherited.Prepare())
        return code;
    CreateJob();

    STARTUPINFOEXW startup = {};
    HideChild(startup.StartupInfo, sizeof startup, inputRead.Get(), outputWrite.Get());
    startup.lpAttributeList = inherited.List();
    PROCESS_INFORMATION process = {};
    // Suspended, so that the child joins the job before it runs a single instruction.
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                        nullptr, folder && folder[0] ? folder : nullptr, &startup.StartupInfo, &process))
        return GetLastError();
    process_.Reset(process.hProcess);
    const UniqueHandle thread(process.hThread);
    // A host already in a job that allows no other (Windows 7 and older) keeps its
    // child out of ours: the limit then ends the child alone.
    if (job_ && !AssignProcessToJobObject(job_.Get(), process_.Get())) {
        job_.Reset();
        port_.Reset();
    }
    // A child left suspended would never end, and a call without a limit with it.
    if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        const DWORD code = GetLastError();
        EndTree(code);
        return code;
    }
    return 0;
}

DWORD CommandRun::Wait(bool waitForTree)
{
    // Issued by the thread that waits: a thread's pending reads are cancelled when it
    // exits, and the thread that started the child may be gone before the run ends.
    IssueRead();
    bool childRunning = true;
    for (;;) {
        if (stopped_)
            return EndTree(ERROR_CANCELLED);
        if (deadline_.Passed())
            return EndTree(ERROR_TIMEOUT);
        // A CR that nothing followed for a while ends a progress state: it goes out now.
        const DWORD quiet = GetTickCount() - lastReadTime_;
        if (lines_.HoldsCr() && quiet >= kStateWait) {
            stopped_ = !lines_.EndHeldState();
            continue;
        }
        const bool treeDone = !childRunning && (!waitForTree || TreeEnded(0));
        if (treeDone)
            break;

        // The child first: a grandchild that writes without end must not hide its exit.
        HANDLE handles[3];
        DWORD count = 0;
        if (childRunning)
            handles[count++] = process_.Get();
        if (reading_)
            handles[count++] = overlapped_.hEvent;
        DWORD wait = deadline_.Left();
        if (!childRunning && port_ && wait > kTreePollInterval)
            wait = kTreePollInterval;  // the job tells of its end through the port, which is no waitable handle
        if (lines_.HoldsCr() && wait > kStateWait - quiet)
            wait = kStateWait - quiet;
        if (onPause_ && count > 0 && WaitForMultipleObjects(count, handles, FALSE, 0) == WAIT_TIMEOUT)
            onPause_(context_);
        DWORD signalled;
        if (stop_) {
            handles[count] = stop_;
            signalled = WaitForMultipleObjects(count + 1, handles, FALSE, wait);
        } else {
            signalled = MsgWaitForMultipleObjectsEx(count, handles, pump_.LongestWait(wait), pump_.WakeMask(),
                                                    MWMO_INPUTAVAILABLE);
        }
        if (signalled == WAIT_FAILED)
            return EndTree(GetLastError());
        if (signalled == WAIT_OBJECT_0 + count && stop_)
            stopped_ = true;  // told to stop: the tree is ended at the top of the loop
        else if (signalled == WAIT_OBJECT_0 + count)
            pump_.Pump(deadline_);
        else if (signalled < WAIT_OBJECT_0 + count && handles[signalled - WAIT_OBJECT_0] == process_.Get())
            childRunning = false;
        else if (signalled < WAIT_OBJECT_0 + count)
            CompleteRead();
    }
    TakeHeldOutput();
    // The last lines may come after the child's end: a stop there still ends what it left.
    if (stopped_)
        return EndTree(ERROR_CANCELLED);
    // What a command that ended as it should leaves running (a service it started) is
    // no longer ours to end: closing the job must not take it.
    if (job_)
        SetJobLimits(JOB_OBJECT_LIMIT_BREAKAWAY_OK);
    return 0;
}

DWORD CommandRun::ExitCode() const
{
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return code;
}

// The child's stdin is a pipe already at its end; its stdout and stderr are the
// client end of a named pipe whose server end we read overlapped.
DWORD CommandRun::CreatePipes(UniqueHandle& inputRead, UniqueHandle& outputWrite)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, 0))
        return GetLastError();
    inputRead.Reset(read);
    CloseHandle(write);  // nothing is ever written: the child reads end of data at once

    for (int attempt = 0; !pipe_; ++attempt) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        wchar_t name[96];
        _snwprintf(name, 96, L"\\\\.\\pipe\\TarvoSetup-%lu-%lu-%I64x", GetCurrentProcessId(), GetCurrentThreadId(),
                   now.QuadPart);
        name[95] = L'\0';
        pipe_.Reset(CreateNamedPipeW(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, kChunkSize, 0,
                                     &attributes));
        if (!pipe_) {
            const DWORD code = GetLastError();
            if (code != ERROR_ACCESS_DENIED || attempt == 3)  // a name taken is retried
                return code;
            continue;
        }
        outputWrite.Reset(CreateFileW(name, GENERIC_WRITE, 0, &attributes, OPEN_EXISTING, 0, nullptr));
        if (!outputWrite)
            return GetLastError();
    }
    event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event_)
        return GetLastError();
    overlapped_.hEvent = event_.Get();
    // Only the child's ends are inheritable, and the child's handle list names them
    // alone: our ends stay ours, and other threads' children never get these.
    if (!SetHandleInformation(inputRead.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
        !SetHandleInformation(outputWrite.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        return GetLastError();
    return 0;
}

// The job ends its tree when its last handle goes, however the host ends: a killed
// installer takes its commands with it. A process that asks to leave the job may,
// rather than fail to start. Without a job the command runs all the same.
void CommandRun::CreateJob()
{
    job_.Reset(CreateJobObjectW(nullptr, nullptr));
    if (!job_)
        return;
    SetJobLimits(JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE);
    port_.Reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job_.Get(), port_.Get()};
    if (port_ && !SetInformationJobObject(job_.Get(), JobObjectAssociateCompletionPortInformation, &association,
                                          sizeof association))
        port_.Reset();
}

void CommandRun::SetJobLimits(DWORD flags)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = flags;
    SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

void CommandRun::IssueRead()
{
    // A read that cannot start means that every writer is gone: the output has ended.
    reading_ = ReadFile(pipe_.Get(), chunk_, kChunkSize, nullptr, &overlapped_) || GetLastError() == ERROR_IO_PENDING;
}

// Takes a finished read and starts the next; returns the bytes it brought.
DWORD CommandRun::CompleteRead()
{
    DWORD got = 0;
    const bool more = GetOverlappedResult(pipe_.Get(), &overlapped_, &got, FALSE) != FALSE;
    reading_ = false;
    if (got > 0) {
        lastReadTime_ = GetTickCount();
        if (!lines_.Take(chunk_, got))
            stopped_ = true;
    }
    if (more)  // otherwise the pipe has broken: every writer is gone
        IssueRead();
    return got;
}

// What the pipe holds now, and no more: a process that still holds its write end
// (a grandchild) cannot keep us reading.
void CommandRun::TakeHeldOutput()
{
    if (reading_ && WaitForSingleObject(overlapped_.hEvent, 0) == WAIT_OBJECT_0)
        CompleteRead();
    DWORD held = 0;
    if (reading_ && !PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, &held, nullptr))
        held = 0;
    while (reading_ && !stopped_ && held > 0 &&
           WaitForSingleObject(overlapped_.hEvent, kEndedTreeGrace) == WAIT_OBJECT_0) {
        const DWORD got = CompleteRead();
        held -= got < held ? got : held;
    }
    if (reading_) {
        CancelIoEx(pipe_.Get(), &overlapped_);
        DWORD got = 0;
        GetOverlappedResult(pipe_.Get(), &overlapped_, &got, TRUE);
        reading_ = false;
        if (got > 0 && !stopped_ && !lines_.Take(chunk_, got))
            stopped_ = true;
    }
    if (!stopped_ && !lines_.Finish())
        stopped_ = true;
}

// Whether the job's last process has ended (without a job: the output's end), after
// waiting at most waitMs for the job's port to say so.
bool CommandRun::TreeEnded(DWORD waitMs)
{
    if (!port_)
        return !reading_;
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    // The wait is for the first message; the rest are only what has come already.
    for (DWORD wait = waitMs; !treeEnded_ && GetQueuedCompletionStatus(port_.Get(), &message, &key, &detail, wait);
         wait = 0)
        treeEnded_ = message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
    return treeEnded_;
}

// Ends the child and every process of its tree with code, and sees them go.
DWORD CommandRun::EndTree(DWORD code)
{
    if (job_)
        TerminateJobObject(job_.Get(), code);
    else
        TerminateProcess(process_.Get(), code);
    WaitForSingleObject(process_.Get(), kEndedTreeGrace);
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; port_ && waited < kEndedTreeGrace && !TreeEnded(kEndedTreeGrace - waited);)
        waited = GetTickCount() - start;
    if (!stopped_)
        TakeHeldOutput();
    return code;
}

DWORD MessagePump::LongestWait(DWORD wait) const
{
    const DWORD rest = PaintRest();
    return rest > 0 && wait > rest ? rest : wait;
}

// What is left in the queue waits for the next round, after the child and its output.
void MessagePump::Pump(const Deadline& deadline)
{
    const DWORD woke = GetTickCount();
    MSG message;
    while (!deadline.Passed() &&
           PeekMessageW(&message, nullptr, 0, 0,
                        PM_REMOVE | (PaintRest() > 0 ? PM_QS_INPUT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE : 0))) {
        if (message.message == WM_QUIT) {
            quit_ = true;
            quitCode_ = static_cast<int>(message.wParam);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
        if (message.message == WM_PAINT) {
            painted_ = true;
            paintedAt_ = GetTickCount();
        }
        if (static_cast<LONG>(message.time - woke) > 0)
            break;
    }
}

void MessagePump::RepostQuit() const
{
    if (quit_)
        PostQuitMessage(quitCode_);
}

// Milliseconds before the next WM_PAINT may be taken; 0 when it may now.
DWORD MessagePump::PaintRest() const
{
    const DWORD since = GetTickCount() - paintedAt_;
    return painted_ && since < kPaintRest ? kPaintRest - since : 0;
}
