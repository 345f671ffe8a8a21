#pragma once

#include <windows.h>

#include <memory>

#include "frame.h"
#include "line_decoder.h"

// The program that a command line names, found as the runners find it, so that the
// system searches no further: the first word, quoted or up to the first blank. A
// full path is taken as it stands. A name without a folder is looked for in the
// system folder, the Windows folder and the absolute folders of PATH, with .exe
// added when it has no extension; never in the host's folder or the current one,
// where anybody who can write a downloads folder can put a program of the same name.
class ProgramPath {
public:
    // 0 when found; ERROR_FILE_NOT_FOUND, with the reason in reason, when nothing
    // of that name may run; ERROR_NOT_ENOUGH_MEMORY.
    DWORD Find(const wchar_t* commandLine, DecodedOutput& reason);
    const wchar_t* Get() const { return path_; }

private:
    bool Search(bool addExe);
    bool FindIn(const wchar_t* folder, size_t length, bool addExe);

    std::unique_ptr<wchar_t, FreeDeleter> block_;  // the name, then the path
    wchar_t* name_ = nullptr;
    wchar_t* path_ = nullptr;
};
