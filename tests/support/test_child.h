#pragma once

#include <windows.h>

#include <string>

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
