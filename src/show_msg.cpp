#include "tarvo_setup.h"

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "frame.h"

namespace {

struct FreeDeleter {
    void operator()(char* block) const { free(block); }
};
using TextBlock = std::unique_ptr<char, FreeDeleter>;

int Fail(DWORD code)
{
    ReportFailure(code);
    return -1;
}

}  // namespace

int __stdcall ShowMsg(const char* path, const char* caption)
{
    // The notice is optional: no file (or no name) means nothing to show.
    if (!path || _access(path, 0) != 0)
        return 0;

    // The runtime's status query can fail without touching the last-error value
    // (a directory named with a trailing separator), so clear it first.
    SetLastError(ERROR_SUCCESS);
    struct _stati64 status;
    if (_stati64(path, &status) != 0) {
        const DWORD code = GetLastError();
        return Fail(code != ERROR_SUCCESS ? code : ERROR_INVALID_NAME);
    }
    // The text needs size + 1 bytes, which must be countable in 32 bits.
    if (status.st_size >= static_cast<__int64>(MAXDWORD))
        return Fail(ERROR_FILE_TOO_LARGE);
    const DWORD size = static_cast<DWORD>(status.st_size);

    TextBlock text(static_cast<char*>(calloc(size + 1, 1)));
    if (!text)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);  // calloc sets no last-error value

    FILE* file = fopen(path, "rb");
    if (!file) {
        const DWORD code = GetLastError();
        text.reset();
        return Fail(code);
    }
    // A short read is no failure: the rest of the block stays zero.
    fread(text.get(), 1, size, file);
    fclose(file);

    if (text.get()[0] != '\0')
        MessageBoxA(nullptr, text.get(), caption, MB_OK | MB_ICONINFORMATION);
    return 0;
}
