#include "tarvo_setup.h"

#include <errno.h>
#include <process.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>

#include "frame.h"
#include "unique_handle.h"

namespace {

constexpr DWORD kChunkSize = 1024;

// What Execute hands to its reader thread.
struct OutputCapture {
    HANDLE pipe;  // the output pipe's read end; the reader closes it
    char* buffer;
    DWORD capacity;
    std::atomic<bool> stopRequested;
};

// Appends what fits of one chunk; the bytes beyond the limit are dropped.
void Append(const char* chunk, DWORD size, char* buffer, DWORD limit, DWORD& count)
{
    const DWORD room = limit - count;
    const DWORD take = size < room ? size : room;
    memcpy(buffer + count, chunk, take);
    count += take;
}

// Copies exactly what the pipe holds now, so that a process that still holds the
// write end (a grandchild) cannot keep the reader going.
void CopyHeldOutput(HANDLE pipe, char* chunk, char* buffer, DWORD limit, DWORD& count)
{
    DWORD held = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &held, nullptr))
        return;
    while (held > 0 && count < limit) {
        DWORD got = 0;
        if (!ReadFile(pipe, chunk, held < kChunkSize ? held : kChunkSize, &got, nullptr)) {
            // A late cancellation meant for the blocking read; the bytes are still there.
            if (GetLastError() == ERROR_OPERATION_ABORTED)
                continue;
            return;
        }
        if (got == 0)
            return;
        Append(chunk, got, buffer, limit, count);
        held -= got;
    }
}

unsigned __stdcall ReadChildOutput(void* argument)
{
    OutputCapture* capture = static_cast<OutputCapture*>(argument);
    const HANDLE pipe = capture->pipe;
    char* const buffer = capture->buffer;
    const DWORD capacity = capture->capacity;

    if (buffer && capacity != 0) {
        const DWORD limit = capacity - 1;
        DWORD count = 0;
        char chunk[kChunkSize];
        bool pipeOpen = limit > 0;
        while (pipeOpen && count < limit && !capture->stopRequested) {
            DWORD got = 0;
            // Fails with ERROR_OPERATION_ABORTED when Execute cancels it to stop us.
            pipeOpen = ReadFile(pipe, chunk, kChunkSize, &got, nullptr) && got != 0;
            if (pipeOpen)
                Append(chunk, got, buffer, limit, count);
        }
        // Looked at only after the stop flag was seen, so nothing the child wrote is missed.
        if (capture->stopRequested)
            CopyHeldOutput(pipe, chunk, buffer, limit, count);
        buffer[count] = '\0';
    }
    // Once this end is closed the child's writes fail instead of blocking.
    CloseHandle(pipe);
    return 0;
}

// The reader thread of one call and its record; it is stopped and waited for
// before the owner goes away, on every path.
class OutputReader {
public:
    OutputReader() = default;
    OutputReader(const OutputReader&) = delete;
    OutputReader& operator=(const OutputReader&) = delete;
    ~OutputReader() { Stop(); }

    // Starts the reader on pipe, which it then owns. On failure returns false with
    // the runtime's error number and leaves pipe with the caller.
    bool Start(HANDLE pipe, char* buffer, DWORD capacity, int& error)
    {
        capture_ = static_cast<OutputCapture*>(malloc(sizeof(OutputCapture)));
        if (!capture_) {
            error = ENOMEM;
            return false;
        }
        capture_->pipe = pipe;
        capture_->buffer = buffer;
        capture_->capacity = capacity;
        new (&capture_->stopRequested) std::atomic<bool>(false);

        errno = 0;
        thread_.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReadChildOutput, capture_, 0, nullptr)));
        if (!thread_) {
            error = errno != 0 ? errno : EAGAIN;
            free(capture_);
            capture_ = nullptr;
            return false;
        }
        return true;
    }

    // Tells the reader to take what the pipe holds and end, and waits until it has.
    void Stop()
    {
        if (thread_) {
            capture_->stopRequested = true;
            // A cancellation finds nothing while the reader is not yet inside ReadFile,
            // so it is repeated until the thread has ended.
            do
                CancelSynchronousIo(thread_.Get());
            while (WaitForSingleObject(thread_.Get(), 5) == WAIT_TIMEOUT);
            thread_.Reset();
        }
        free(capture_);
        capture_ = nullptr;
    }

private:
    UniqueHandle thread_;
    OutputCapture* capture_ = nullptr;
};

// Creates an anonymous pipe whose ends are not inheritable, then lets the child's
// end be inherited. Our own end is thus never inherited, not even by a child that
// another thread starts in between.
bool CreateChildPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd, bool childReads)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, 0))
        return false;
    readEnd.Reset(read);
    writeEnd.Reset(write);
    return SetHandleInformation(childReads ? read : write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) != FALSE;
}

bool Explain(DWORD code, char (&explanation)[kMessageSize])
{
    GetSystemErrorText(code, explanation, kMessageSize);
    return false;
}

// Runs the child and captures its output; on failure returns false with the reason.
bool RunChild(const char* commandLine, char* buffer, DWORD capacity, DWORD& exitCode,
              char (&explanation)[kMessageSize])
{
    OutputReader reader;  // declared first: stopped only after every handle below is closed
    UniqueHandle inputRead, inputWrite, outputRead, outputWrite;

    if (!CreateChildPipe(inputRead, inputWrite, true))
        return Explain(GetLastError(), explanation);
    if (!CreateChildPipe(outputRead, outputWrite, false)) {
        const DWORD code = GetLastError();
        inputRead.Reset();
        inputWrite.Reset();
        return Explain(code, explanation);
    }

    auto closeChildEnds = [&] {
        inputRead.Reset();
        inputWrite.Reset();
        outputWrite.Reset();
    };

    int error = 0;
    if (!reader.Start(outputRead.Get(), buffer, capacity, error)) {
        closeChildEnds();
        CopyTruncated(strerror(error), explanation, kMessageSize);
        return false;
    }
    outputRead.Release();  // the reader's now

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = inputRead.Get();
    startup.hStdOutput = outputWrite.Get();
    startup.hStdError = outputWrite.Get();

    // Windows refuses a null command line with ERROR_INVALID_PARAMETER; Wine crashes on it.
    if (!commandLine) {
        closeChildEnds();
        return Explain(ERROR_INVALID_PARAMETER, explanation);
    }
    PROCESS_INFORMATION process = {};
    // CreateProcessA copies the command line before use, so it is never written to.
    if (!CreateProcessA(nullptr, const_cast<char*>(commandLine), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
        const DWORD code = GetLastError();
        closeChildEnds();
        return Explain(code, explanation);
    }
    UniqueHandle child(process.hProcess);
    CloseHandle(process.hThread);
    // Closing our write end of the input pipe is what gives the child's stdin its end of data.
    closeChildEnds();

    if (WaitForSingleObject(child.Get(), INFINITE) == WAIT_FAILED || !GetExitCodeProcess(child.Get(), &exitCode))
        return Explain(GetLastError(), explanation);
    return true;
}

}  // namespace

int __stdcall Execute(const char* commandLine, char* buffer, DWORD capacity)
{
    char explanation[kMessageSize] = "";
    if (buffer && capacity != 0)
        buffer[0] = '\0';

    DWORD exitCode = 0;
    if (RunChild(commandLine, buffer, capacity, exitCode, explanation))
        return static_cast<int>(exitCode);
    CopyTruncated(explanation, buffer, capacity);
    return -1;
}
