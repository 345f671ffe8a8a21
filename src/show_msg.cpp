#include "tarvo_setup.h"

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "frame.h"
#include "text_decoding.h"

namespace {

using TextBlock = std::unique_ptr<char, FreeDeleter>;
using WideTextBlock = std::unique_ptr<wchar_t, FreeDeleter>;

// The runtime's path operations, in the ANSI code page and in UTF-16.
bool Exists(const char* path)
{
    return _access(path, 0) == 0;
}

bool Exists(const wchar_t* path)
{
    return _waccess(path, 0) == 0;
}

int Status(const char* path, struct _stati64* status)
{
    return _stati64(path, status);
}

int Status(const wchar_t* path, struct _stati64* status)
{
    return _wstati64(path, status);
}

FILE* OpenForReading(const char* path)
{
    return fopen(path, "rb");
}

FILE* OpenForReading(const wchar_t* path)
{
    return _wfopen(path, L"rb");
}

enum class Notice { Absent, Failed, Read };

// Reads the whole file at path into text, size bytes and a zero. A missing file (or
// no name) is Absent; a file that cannot be read is reported with report, Failed.
template <typename Char>
Notice ReadNotice(const Char* path, void (*report)(DWORD), TextBlock& text, DWORD& size)
{
    // The notice is optional: no file (or no name) means nothing to show.
    if (!path || !Exists(path))
        return Notice::Absent;

    // The runtime's status query can fail without touching the last-error value
    // (a directory named with a trailing separator), so clear it first.
    SetLastError(ERROR_SUCCESS);
    struct _stati64 status;
    if (Status(path, &status) != 0) {
        const DWORD code = GetLastError();
        report(code != ERROR_SUCCESS ? code : ERROR_INVALID_NAME);
        return Notice::Failed;
    }
    // The text needs size + 1 bytes, which must be countable in 32 bits.
    if (status.st_size >= static_cast<__int64>(MAXDWORD)) {
        report(ERROR_FILE_TOO_LARGE);
        return Notice::Failed;
    }
    size = static_cast<DWORD>(status.st_size);

    text.reset(static_cast<char*>(calloc(size + 1, 1)));
    if (!text) {
        report(ERROR_NOT_ENOUGH_MEMORY);  // calloc sets no last-error value
        return Notice::Failed;
    }
    FILE* file = OpenForReading(path);
    if (!file) {
        const DWORD code = GetLastError();
        text.reset();
        report(code);
        return Notice::Failed;
    }
    // A short read is no failure: the rest of the block stays zero.
    fread(text.get(), 1, size, file);
    fclose(file);
    return Notice::Read;
}

}  // namespace

int __stdcall ShowMsg(const char* path, const char* caption)
{
    TextBlock text;
    DWORD size = 0;
    const Notice notice = ReadNotice(path, ReportFailure, text, size);
    if (notice != Notice::Read)
        return notice == Notice::Failed ? -1 : 0;
    if (text.get()[0] != '\0')
        MessageBoxA(nullptr, text.get(), caption, MB_OK | MB_ICONINFORMATION);
    return 0;
}

int __stdcall ShowMsgW(const wchar_t* path, const wchar_t* caption)
{
    TextBlock bytes;
    DWORD size = 0;
    const Notice notice = ReadNotice(path, ReportFailureW, bytes, size);
    if (notice != Notice::Read)
        return notice == Notice::Failed ? -1 : 0;
    // No text decodes to more units than it has bytes. (A file of 2 GiB or more
    // would need a block of 4 GiB here, which calloc refuses.)
    WideTextBlock text(static_cast<wchar_t*>(calloc(size + 1, sizeof(wchar_t))));
    if (!text) {
        ReportFailureW(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    if (DecodeText(bytes.get(), size, text.get()) != 0)
        MessageBoxW(nullptr, text.get(), caption, MB_OK | MB_ICONINFORMATION);
    return 0;
}
