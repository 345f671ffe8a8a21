#include "program_search.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

constexpr size_t kLongestPath = 32767;  // units, terminator included, as the system takes a path

bool IsSeparator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

// C:\..., or \\server\share\... and \\?\...; not C:tool.exe or \tool.exe, which
// depend on the current folder of a drive.
bool IsFullPath(const wchar_t* path)
{
    const bool drive = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    return (drive && path[1] == L':' && IsSeparator(path[2])) || (IsSeparator(path[0]) && IsSeparator(path[1]));
}

bool IsFile(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

DWORD ProgramPath::Find(const wchar_t* commandLine, DecodedOutput& reason)
{
    while (*commandLine == L' ' || *commandLine == L'\t')
        ++commandLine;
    const bool quoted = *commandLine == L'"';
    const wchar_t* const name = commandLine + (quoted ? 1 : 0);
    const size_t length = quoted ? wcscspn(name, L"\"") : wcscspn(name, L" \t");
    block_.reset(static_cast<wchar_t*>(malloc((length + 1 + kLongestPath) * sizeof(wchar_t))));
    if (!block_) {
        reason.Explain(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    name_ = block_.get();
    path_ = name_ + length + 1;
    wmemcpy(name_, name, length);
    name_[length] = L'\0';

    const wchar_t* why = nullptr;
    if (length == 0)
        why = L"The command line names no program. Give the program's full path first.\r\n";
    else if (!wcspbrk(name_, L"\\/:"))
        why = Search(!wcschr(name_, L'.')) ? nullptr
                                           : L"The program \"%ls\" is in none of the system folder, the Windows "
                                             L"folder and the folders of PATH. Give its full path.\r\n";
    else if (!IsFullPath(name_))
        why = L"The program \"%ls\" is named by a relative path. Give its full path.\r\n";
    else if (!IsFile(name_))
        why = L"The program \"%ls\" was not found. Give its full path, in quotes if it has a space.\r\n";
    else
        wmemcpy(path_, name_, length + 1);
    if (why) {
        reason.Explain(why, name_);
        return ERROR_FILE_NOT_FOUND;
    }
    return 0;
}

// Looks for the name in the system folder, the Windows folder, then PATH's folders.
bool ProgramPath::Search(bool addExe)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH && FindIn(folder, length, addExe))
        return true;
    length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH && FindIn(folder, length, addExe))
        return true;
    // PATH goes into path_'s room first, and is copied out of it for the search.
    const DWORD pathLength = GetEnvironmentVariableW(L"PATH", path_, kLongestPath);
    const std::unique_ptr<wchar_t, FreeDeleter> searched(
        pathLength > 0 && pathLength < kLongestPath ? _wcsdup(path_) : nullptr);
    for (wchar_t* entry = searched.get(); entry && *entry;) {
        const size_t entryLength = wcscspn(entry, L";");
        wchar_t* const next = entry + entryLength + (entry[entryLength] ? 1 : 0);
        entry[entryLength] = L'\0';
        // A folder in quotes, as some installers write PATH; a relative one is the
        // current folder by another name, and is passed over.
        if (entry[0] == L'"' && entryLength >= 2 && entry[entryLength - 1] == L'"') {
            entry[entryLength - 1] = L'\0';
            ++entry;
        }
        if (IsFullPath(entry) && FindIn(entry, wcslen(entry), addExe))
            return true;
        entry = next;
    }
    return false;
}

// Whether folder\name (with .exe added) is a file; it is in path_ then.
bool ProgramPath::FindIn(const wchar_t* folder, size_t length, bool addExe)
{
    const size_t nameLength = wcslen(name_);
    const bool separated = length > 0 && IsSeparator(folder[length - 1]);
    if (length + 1 + nameLength + 4 + 1 > kLongestPath)
        return false;
    wchar_t* at = wmemcpy(path_, folder, length) + length;
    if (!separated)
        *at++ = L'\\';
    wmemcpy(at, name_, nameLength);
    at += nameLength;
    wcscpy(at, addExe ? L".exe" : L"");
    return IsFile(path_);
}
