#pragma once

#include <windows.h>

#include <string>

#include "tarvo_setup.h"

// The DLL as a host sees it: loaded at run time, its exports found by name.
struct TarvoLibrary {
    HMODULE module = LoadLibraryA("TarvoSetup.DLL");
    decltype(&Execute) execute = Find<decltype(&Execute)>("Execute");
    decltype(&ShowMsg) showMsg = Find<decltype(&ShowMsg)>("ShowMsg");
    decltype(&SelectPatchFile) selectPatchFile = Find<decltype(&SelectPatchFile)>("SelectPatchFile");

    template <typename Function>
    Function Find(const char* name) const
    {
        return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    }

    static const TarvoLibrary& Get()
    {
        static TarvoLibrary library;
        return library;
    }
};

// The system's text for code, asked of the system here as the library asks it.
inline std::string SystemText(DWORD code)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(length && text ? text : "");
    if (text)
        LocalFree(text);
    return result;
}

// A command line that runs the test child, built beside this test, with arguments.
inline std::string Child(const std::string& arguments)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path(self);
    return "\"" + path.substr(0, path.find_last_of('\\') + 1) + "test-child.exe\" " + arguments;
}
