#include "tarvo_setup.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <new>

#include "frame.h"
#include "unique_handle.h"

namespace {

constexpr DWORD kChunkSize = 65536;        // one read from the pipe
constexpr DWORD kLinePiece = 8192;         // bytes of a line handed over at most at once
constexpr DWORD kDetect = 0xFFFFFFFF;      // the code page that asks for detection
constexpr UINT kUtf16 = 1200;              // UTF-16LE, which MultiByteToWideChar does not take
constexpr DWORD kWaitForTree = 1;          // flags: wait for every process of the tree
constexpr DWORD kEndedTreeGrace = 5000;    // ms to see an ended tree go, at most
constexpr DWORD kTreePollInterval = 20;    // ms between looks at the job while waiting for the tree

// The host's buffer as the output fills it: at most capacity - 1 units and a zero,
// never half a surrogate pair.
class DecodedOutput {
public:
    DecodedOutput(wchar_t* buffer, DWORD capacity)
        : buffer_(capacity != 0 ? buffer : nullptr), limit_(buffer_ ? capacity - 1 : 0)
    {
        if (buffer_)
            buffer_[0] = L'\0';
    }

    bool Cut() const { return cut_; }

    void Append(const wchar_t* text, DWORD units)
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

    // A failure's explanation in place of the output.
    void Explain(DWORD code) { GetSystemErrorTextW(code, buffer_, buffer_ ? limit_ + 1 : 0); }

private:
    wchar_t* const buffer_;
    const DWORD limit_;
    DWORD count_ = 0;
    bool cut_ = false;
};

// Turns the child's bytes into lines: decoded, written to the output as they came,
// and handed to the line handler without their break. Lines longer than kLinePiece
// bytes come in pieces, cut between characters.
class LineDecoder {
public:
    LineDecoder(DWORD codePage, TarvoLineHandler onLine, void* context, DecodedOutput& output)
        : codePage_(codePage), onLine_(onLine), context_(context), output_(output)
    {
    }

    // False once the line handler asked to stop; nothing is handed over after that.
    bool Take(const char* bytes, DWORD size)
    {
        for (DWORD i = 0; i < size && !stopped_; ++i) {
            if (codePage_ != kDetect)
                Store(bytes[i]);
            else
                Recognise(bytes[i]);
        }
        return !stopped_;
    }

    // The child has ended: what is left is its last line, without a break. False if
    // the line handler asked to stop.
    bool Finish()
    {
        if (codePage_ == kDetect && held_) {  // a single byte in all: too little to tell
            codePage_ = kDetectEachLine;
            Store(first_);
        }
        if (length_ > 0 && !stopped_)
            Emit(length_);
        return !stopped_;
    }

private:
    static constexpr DWORD kDetectEachLine = kDetect - 1;  // UTF-8 or OEM, line by line

    // UTF-16LE is recognised by the first two bytes: its mark, which is no text, or
    // the two bytes of a character below U+0100 (as cmd /u writes).
    void Recognise(char byte)
    {
        if (!held_) {
            first_ = byte;
            held_ = true;
            return;
        }
        const bool marked = first_ == '\xFF' && byte == '\xFE';
        codePage_ = marked || (first_ != '\0' && byte == '\0') ? kUtf16 : kDetectEachLine;
        if (!marked) {
            Store(first_);
            Store(byte);
        }
    }

    void Store(char byte)
    {
        line_[length_++] = byte;
        if (EndsLine())
            Emit(length_);
        else if (length_ == kLinePiece)
            Emit(PieceLength());
    }

    bool EndsLine() const
    {
        if (codePage_ == kUtf16)
            return length_ % 2 == 0 && line_[length_ - 2] == '\n' && line_[length_ - 1] == '\0';
        return line_[length_ - 1] == '\n';
    }

    // The longest start of a full line that ends between characters.
    DWORD PieceLength() const
    {
        DWORD piece = length_;
        if (codePage_ == kUtf16) {
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

    wchar_t Unit(DWORD at) const
    {
        return static_cast<wchar_t>(static_cast<unsigned char>(line_[at]) |
                                    static_cast<unsigned char>(line_[at + 1]) << 8);
    }

    DWORD Decode(DWORD size)
    {
        if (codePage_ == kUtf16) {
            for (DWORD i = 0; i + 1 < size; i += 2)
                text_[i / 2] = Unit(i);
            return size / 2;
        }
        const UINT codePage = codePage_ != kDetectEachLine ? codePage_ : IsUtf8(line_, size) ? CP_UTF8 : CP_OEMCP;
        return DecodeBytes(codePage, line_, size, text_);
    }

    // Hands over the first size bytes of the line and keeps the rest for the next.
    void Emit(DWORD size)
    {
        DWORD units = Decode(size);
        output_.Append(text_, units);
        if (units > 0 && text_[units - 1] == L'\n') {
            --units;
            if (units > 0 && text_[units - 1] == L'\r')
                --units;
        }
        text_[units] = L'\0';
        if (onLine_ && onLine_(text_, units, context_) != 0)
            stopped_ = true;
        memmove(line_, line_ + size, length_ - size);
        length_ -= size;
    }

    DWORD codePage_;
    const TarvoLineHandler onLine_;
    void* const context_;
    DecodedOutput& output_;
    bool stopped_ = false;
    char first_ = 0;
    bool held_ = false;
    char line_[kLinePiece];
    DWORD length_ = 0;
    wchar_t text_[kLinePiece + 1];
};

// The thread's enabled top-level windows, disabled for input while a command runs,
// as a modal box does, and enabled again afterwards.
class DisabledWindows {
public:
    DisabledWindows()
    {
        active_ = GetActiveWindow();
        EnumThreadWindows(GetCurrentThreadId(), Disable, reinterpret_cast<LPARAM>(this));
    }
    DisabledWindows(const DisabledWindows&) = delete;
    DisabledWindows& operator=(const DisabledWindows&) = delete;
    ~DisabledWindows()
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

private:
    static BOOL CALLBACK Disable(HWND window, LPARAM parameter)
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

    HWND active_ = nullptr;
    HWND* windows_ = nullptr;
    DWORD count_ = 0;
    DWORD room_ = 0;
};

// The child, the job that holds its tree and the pipe that brings its output.
class CommandRun {
public:
    explicit CommandRun(LineDecoder& lines) : lines_(lines) {}
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;
    ~CommandRun()
    {
        // A read still under way writes into chunk_ until it is known to have ended.
        if (reading_ && CancelIoEx(pipe_.Get(), &overlapped_)) {
            DWORD got = 0;
            GetOverlappedResult(pipe_.Get(), &overlapped_, &got, TRUE);
        }
    }

    // Starts the child with its output pipe; 0, or the system's code for what kept it
    // from starting.
    DWORD Start(wchar_t* commandLine, const wchar_t* folder)
    {
        UniqueHandle inputRead, outputWrite;
        if (DWORD code = CreatePipes(inputRead, outputWrite))
            return code;
        CreateJob();

        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        startup.wShowWindow = SW_HIDE;
        startup.hStdInput = inputRead.Get();
        startup.hStdOutput = outputWrite.Get();
        startup.hStdError = outputWrite.Get();
        PROCESS_INFORMATION process = {};
        // Suspended, so that the child joins the job before it runs a single instruction.
        if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                            folder && folder[0] ? folder : nullptr, &startup, &process))
            return GetLastError();
        process_.Reset(process.hProcess);
        const UniqueHandle thread(process.hThread);
        // A host already in a job that allows no other (Windows 7 and older) keeps its
        // child out of ours: the limit then ends the child alone.
        if (job_ && !AssignProcessToJobObject(job_.Get(), process_.Get())) {
            job_.Reset();
            port_.Reset();
        }
        ResumeThread(thread.Get());
        IssueRead();
        return 0;
    }

    // Waits while the child runs, pumping the thread's messages, reading its output
    // as it comes. Returns 0, ERROR_TIMEOUT, ERROR_CANCELLED or the code of a wait
    // that failed (after ending the tree).
    DWORD Wait(DWORD timeoutMs, bool waitForTree)
    {
        const bool limited = timeoutMs != 0 && timeoutMs != INFINITE;
        const DWORD start = GetTickCount();
        bool childRunning = true;
        for (;;) {
            if (stopped_)
                return EndTree(ERROR_CANCELLED);
            const DWORD elapsed = GetTickCount() - start;
            if (limited && elapsed >= timeoutMs)
                return EndTree(ERROR_TIMEOUT);
            const bool treeDone = !childRunning && (!waitForTree || TreeEnded());
            if (treeDone)
                break;

            // The child first: a grandchild that writes without end must not hide its exit.
            HANDLE handles[2];
            DWORD count = 0;
            if (childRunning)
                handles[count++] = process_.Get();
            if (reading_)
                handles[count++] = overlapped_.hEvent;
            DWORD wait = limited ? timeoutMs - elapsed : INFINITE;
            if (!childRunning && port_ && wait > kTreePollInterval)
                wait = kTreePollInterval;  // the job tells of its end through the port, which is no waitable handle
            const DWORD signalled =
                MsgWaitForMultipleObjectsEx(count, handles, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (signalled == WAIT_FAILED)
                return EndTree(GetLastError());
            if (signalled == WAIT_OBJECT_0 + count)
                PumpMessages();
            else if (signalled < WAIT_OBJECT_0 + count && handles[signalled - WAIT_OBJECT_0] == process_.Get())
                childRunning = false;
            else if (signalled < WAIT_OBJECT_0 + count)
                CompleteRead();
        }
        TakeHeldOutput();
        // The last lines may come after the child's end: a stop there still ends what it left.
        return stopped_ ? EndTree(ERROR_CANCELLED) : 0;
    }

    DWORD ExitCode() const
    {
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        return code;
    }

    // A WM_QUIT taken from the queue while waiting goes back for the host's own loop.
    void RepostQuit() const
    {
        if (quit_)
            PostQuitMessage(quitCode_);
    }

private:
    // The child's stdin is a pipe already at its end; its stdout and stderr are the
    // client end of a named pipe whose server end we read overlapped.
    DWORD CreatePipes(UniqueHandle& inputRead, UniqueHandle& outputWrite)
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
            _snwprintf(name, 96, L"\\\\.\\pipe\\TarvoSetup-%lu-%lu-%I64x", GetCurrentProcessId(),
                       GetCurrentThreadId(), now.QuadPart);
            name[95] = L'\0';
            const HANDLE server = CreateNamedPipeW(
                name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, kChunkSize, 0, &attributes);
            if (server == INVALID_HANDLE_VALUE) {
                const DWORD code = GetLastError();
                if (code != ERROR_ACCESS_DENIED || attempt == 3)  // a name taken is retried
                    return code;
                continue;
            }
            pipe_.Reset(server);
            const HANDLE client = CreateFileW(name, GENERIC_WRITE, 0, &attributes, OPEN_EXISTING, 0, nullptr);
            if (client == INVALID_HANDLE_VALUE)
                return GetLastError();
            outputWrite.Reset(client);
        }
        event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event_)
            return GetLastError();
        overlapped_.hEvent = event_.Get();
        // Only the child's ends are inherited: ours stay private even to children
        // that other threads start meanwhile.
        if (!SetHandleInformation(inputRead.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
            !SetHandleInformation(outputWrite.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            return GetLastError();
        return 0;
    }

    // A job without limits but one: a process that asks to leave it may, rather than
    // fail to start. Without a job the command runs all the same.
    void CreateJob()
    {
        job_.Reset(CreateJobObjectW(nullptr, nullptr));
        if (!job_)
            return;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
        SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
        port_.Reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job_.Get(), port_.Get()};
        if (port_ && !SetInformationJobObject(job_.Get(), JobObjectAssociateCompletionPortInformation,
                                              &association, sizeof association))
            port_.Reset();
    }

    void IssueRead()
    {
        // A read that cannot start means that every writer is gone: the output has ended.
        reading_ = ReadFile(pipe_.Get(), chunk_, kChunkSize, nullptr, &overlapped_) ||
                   GetLastError() == ERROR_IO_PENDING;
    }

    // Takes a finished read and starts the next; returns the bytes it brought.
    DWORD CompleteRead()
    {
        DWORD got = 0;
        const bool more = GetOverlappedResult(pipe_.Get(), &overlapped_, &got, FALSE) != FALSE;
        reading_ = false;
        if (got > 0 && !lines_.Take(chunk_, got))
            stopped_ = true;
        if (more)  // otherwise the pipe has broken: every writer is gone
            IssueRead();
        return got;
    }

    // What the pipe holds now, and no more: a process that still holds its write end
    // (a grandchild) cannot keep us reading.
    void TakeHeldOutput()
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

    // Whether the job's last process has ended (without a job: the output's end).
    bool TreeEnded()
    {
        if (!port_)
            return !reading_;
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        while (GetQueuedCompletionStatus(port_.Get(), &message, &key, &detail, 0))
            if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
                treeEnded_ = true;
        return treeEnded_;
    }

    // Ends the child and every process of its tree with code, and sees them go.
    DWORD EndTree(DWORD code)
    {
        if (job_)
            TerminateJobObject(job_.Get(), code);
        else
            TerminateProcess(process_.Get(), code);
        WaitForSingleObject(process_.Get(), kEndedTreeGrace);
        const DWORD start = GetTickCount();
        while (port_ && !TreeEnded() && GetTickCount() - start < kEndedTreeGrace)
            Sleep(1);
        if (!stopped_)
            TakeHeldOutput();
        return code;
    }

    void PumpMessages()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit_ = true;
                quitCode_ = static_cast<int>(message.wParam);
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    LineDecoder& lines_;
    UniqueHandle job_, port_, process_, pipe_, event_;
    OVERLAPPED overlapped_ = {};
    bool reading_ = false;
    bool stopped_ = false;
    bool treeEnded_ = false;
    bool quit_ = false;
    int quitCode_ = 0;
    char chunk_[kChunkSize];
};

bool KnownCodePage(DWORD codePage)
{
    return codePage == kDetect || codePage <= CP_THREAD_ACP || codePage == kUtf16 ||
           IsValidCodePage(codePage) != FALSE;
}

// What a call needs beyond the stack of a host that may give it little.
struct Workspace {
    Workspace(DWORD codePage, TarvoLineHandler onLine, void* context, DecodedOutput& output)
        : lines(codePage, onLine, context, output), run(lines)
    {
    }

    LineDecoder lines;
    CommandRun run;
};

struct WorkspaceDeleter {
    void operator()(Workspace* workspace) const
    {
        workspace->~Workspace();
        free(workspace);
    }
};

struct FreeDeleter {
    void operator()(void* block) const { free(block); }
};

}  // namespace

unsigned long __stdcall RunCommand(const wchar_t* commandLine, const wchar_t* folder, unsigned long timeoutMs,
                                   unsigned long codePage, unsigned long flags, TarvoLineHandler onLine,
                                   void* context, wchar_t* buffer, unsigned long capacity, unsigned long* exitCode)
{
    DecodedOutput output(buffer, capacity);
    if (!commandLine || (flags & ~kWaitForTree) != 0 || !KnownCodePage(codePage)) {
        output.Explain(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    // CreateProcessW may write into the command line it is given.
    const size_t length = wcslen(commandLine) + 1;
    const std::unique_ptr<wchar_t, FreeDeleter> command(static_cast<wchar_t*>(malloc(length * sizeof(wchar_t))));
    void* const memory = malloc(sizeof(Workspace));
    if (!command || !memory) {
        free(memory);
        output.Explain(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    wmemcpy(command.get(), commandLine, length);
    const std::unique_ptr<Workspace, WorkspaceDeleter> workspace(
        new (memory) Workspace(codePage, onLine, context, output));
    CommandRun& run = workspace->run;
    DWORD result = run.Start(command.get(), folder);
    if (result != 0) {
        output.Explain(result);
        return result;
    }
    {
        const DisabledWindows disabled;
        result = run.Wait(timeoutMs, (flags & kWaitForTree) != 0);
    }
    run.RepostQuit();
    if (exitCode)
        *exitCode = run.ExitCode();
    return result == 0 && output.Cut() ? ERROR_MORE_DATA : result;
}
