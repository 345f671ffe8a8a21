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

// The host's buffer as the reader fills it: at most capacity - 1 bytes and a zero.
// Without a buffer (null, or capacity 0) it is full from the start.
class BoundedOutput {
public:
    BoundedOutput(char* buffer, DWORD capacity)
        : buffer_(capacity != 0 ? buffer : nullptr), limit_(buffer_ ? capacity - 1 : 0)
    {
    }

    bool Full() const { return count_ == limit_; }

    // Keeps what fits; the bytes beyond the limit are dropped.
    void Append(const char* bytes, DWORD size)
    {
        const DWORD take = size < limit_ - count_ ? size : limit_ - count_;
        memcpy(buffer_ + count_, bytes, take);
        count_ += take;
    }

    void Terminate()
    {
        if (buffer_)
            buffer_[count_] = '\0';
    }

private:
    char* const buffer_;
    const DWORD limit_;
    DWORD count_ = 0;
};

// Copies exactly what the pipe holds now, so that a process that still holds the
// write end (a grandchild) cannot keep the reader going.
void CopyHeldOutput(HANDLE pipe, char (&chunk)[kChunkSize], BoundedOutput& output)
{
    DWORD held = 0;
    if (output.Full() || !PeekNamedPipe(pipe, nullptr, 0, nullptr, &held, nullptr))
        return;
    while (held > 0 && !output.Full()) {
        DWORD got = 0;
        if (!ReadFile(pipe, chunk, held < kChunkSize ? held : kChunkSize, &got, nullptr)) {
            // A late cancellation meant for the blocking read; the bytes are still there.
            if (GetLastError() == ERROR_OPERATION_ABORTED)
                continue;
            return;
        }
        if (got == 0)
            return;
        output.Append(chunk, got);
        held -= got;
    }
}

unsigned __stdcall ReadChildOutput(void* argument)
{
    OutputCapture* capture = static_cast<OutputCapture*>(argument);
    const HANDLE pipe = capture->pipe;
    BoundedOutput output(capture->buffer, capture->capacity);

    char chunk[kChunkSize];
    while (!output.Full() && !capture->stopRequested) {
        DWORD got = 0;
        // Fails with ERROR_OPERATION_ABORTED when Execute cancels it to stop us.
        if (!ReadFile(pipe, chunk, kChunkSize, &got, nullptr) || got == 0)
            break;
        output.Append(chunk, got);
    }
    // Looked at only after the stop flag was seen, so nothing the child wrote is missed.
    if (capture->stopRequested)
        CopyHeldOutput(pipe, chunk, output);
    output.Terminate();
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

    // Starts the reader, which then owns pipe. On failure returns the runtime's
    // error number and leaves pipe with the caller; 0 on success.
    int Start(UniqueHandle& pipe, char* buffer, DWORD capacity)
    {
        capture_ = static_cast<OutputCapture*>(malloc(sizeof(OutputCapture)));
        if (!capture_)
            return ENOMEM;
        capture_->pipe = pipe.Get();
        capture_->buffer = buffer;
        capture_->capacity = capacity;
        new (&capture_->stopRequested) std::atomic<bool>(false);

        errno = 0;
        thread_.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReadChildOutput, capture_, 0, nullptr)));
        if (!thread_) {
            const int error = errno != 0 ? errno : EAGAIN;
            free(capture_);
            capture_ = nullptr;
            return error;
        }
        pipe.Release();
        return 0;
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

// The pipe ends that only the child uses, and ours of its input; they close in
// this order, whether the child was started or not.
struct ChildEnds {
    UniqueHandle inputRead, inputWrite, outputWrite;

    ChildEnds() = default;
    ChildEnds(const ChildEnds&) = delete;
    ChildEnds& operator=(const ChildEnds&) = delete;
    ~ChildEnds() { Close(); }

    void Close()
    {
        inputRead.Reset();
        inputWrite.Reset();
        outputWrite.Reset();
    }
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

using Explanation = char[kMessageSize];

bool Explain(DWORD code, Explanation& explanation)
{
    GetSystemErrorText(code, explanation, kMessageSize);
    return false;
}

bool ExplainRuntimeError(int error, Explanation& explanation)
{
    CopyTruncated(strerror(error), explanation, kMessageSize);
    return false;
}

// Runs the child and captures its output; on failure returns false with the reason.
// The owners are declared so that leaving on any path releases in this order: the
// process, the child's pipe ends, the output pipe's read end, and last the reader.
bool RunChild(const char* commandLine, char* buffer, DWORD capacity, DWORD& exitCode, Explanation& explanation)
{
    // Windows refuses a null command line with ERROR_INVALID_PARAMETER; Wine crashes on it.
    if (!commandLine)
        return Explain(ERROR_INVALID_PARAMETER, explanation);

    OutputReader reader;
    UniqueHandle outputRead;
    ChildEnds ends;
    if (!CreateChildPipe(ends.inputRead, ends.inputWrite, true) ||
        !CreateChildPipe(outputRead, ends.outputWrite, false))
        return Explain(GetLastError(), explanation);
    if (const int error = reader.Start(outputRead, buffer, capacity))
        return ExplainRuntimeError(error, explanation);

    STARTUPINFOA startup = {};
    HideChild(startup, sizeof startup, ends.inputRead.Get(), ends.outputWrite.Get());
    PROCESS_INFORMATION process = {};
    // CreateProcessA copies the command line before use, so it is never written to.
    if (!CreateProcessA(nullptr, const_cast<char*>(commandLine), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return Explain(GetLastError(), explanation);
    const UniqueHandle child(process.hProcess);
    CloseHandle(process.hThread);
    // Closed now, not on return: our write end closing is what gives the child's stdin its end of data.
    ends.Close();

    if (WaitForSingleObject(child.Get(), INFINITE) == WAIT_FAILED || !GetExitCodeProcess(child.Get(), &exitCode))
        return Explain(GetLastError(), explanation);
    return true;
}

}  // namespace

int __stdcall Execute(const char* commandLine, char* buffer, DWORD capacity)
{
    Explanation explanation = "";
    if (buffer && capacity != 0)
        buffer[0] = '\0';

    DWORD exitCode = 0;
    if (RunChild(commandLine, buffer, capacity, exitCode, explanation))
        return static_cast<int>(exitCode);
    CopyTruncated(explanation, buffer, capacity);
    return -1;
}
