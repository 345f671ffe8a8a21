#pragma once

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "text.h"

// The folder of the running program, with its trailing backslash: the test programs,
// the DLL and the test child lie side by side, in the build as in the test kit.
inline std::string ProgramFolder()
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path(self, length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

// A command line that runs the test child, by its full path, with arguments.
inline std::string Child(const std::string& arguments)
{
    return "\"" + ProgramFolder() + "test-child.exe\" " + arguments;
}

// The same command line in UTF-16, for RunCommand and the plug-in commands.
inline std::wstring WideChild(const std::string& arguments)
{
    return Wide(Child(arguments));
}

// The process ids that "tree" and "grandchild" print.
inline std::vector<DWORD> StartedProcesses(const std::wstring& output)
{
    std::vector<DWORD> ids;
    const std::string text = Utf8(output);
    for (const char* at = text.c_str(); (at = strpbrk(at, "0123456789")) != nullptr;) {
        char* end = nullptr;
        ids.push_back(strtoul(at, &end, 10));
        at = end;
        if (strncmp(text.c_str(), "grandchild", 10) == 0)
            break;  // the stamp that follows is no process
    }
    return ids;
}

// Whether the process has ended (or is gone) within a moment.
inline bool Ended(DWORD id)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
    if (!process)
        return true;
    const bool ended = WaitForSingleObject(process, 2000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process, 1);  // not left behind by a failing test
    CloseHandle(process);
    return ended;
}
