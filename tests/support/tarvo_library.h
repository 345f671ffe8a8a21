#pragma once

#include <windows.h>

#include <string>

#include "tarvo_setup.h"
#include "test_child.h"
#include "text.h"

// The DLL as a host sees it: loaded at run time, its exports found by name.
struct TarvoLibrary {
    HMODULE module = LoadLibraryA("TarvoSetup.DLL");
    decltype(&Execute) execute = Find<decltype(&Execute)>("Execute");
    decltype(&ShowMsg) showMsg = Find<decltype(&ShowMsg)>("ShowMsg");
    decltype(&SelectPatchFile) selectPatchFile = Find<decltype(&SelectPatchFile)>("SelectPatchFile");
    decltype(&ShowMsgW) showMsgW = Find<decltype(&ShowMsgW)>("ShowMsgW");
    decltype(&SelectPatchFileW) selectPatchFileW = Find<decltype(&SelectPatchFileW)>("SelectPatchFileW");
    decltype(&RunCommand) runCommand = Find<decltype(&RunCommand)>("RunCommand");
    decltype(&StartCommand) startCommand = Find<decltype(&StartCommand)>("StartCommand");
    decltype(&WaitCommand) waitCommand = Find<decltype(&WaitCommand)>("WaitCommand");
    decltype(&StopCommand) stopCommand = Find<decltype(&StopCommand)>("StopCommand");
    decltype(&CloseCommand) closeCommand = Find<decltype(&CloseCommand)>("CloseCommand");
    decltype(&ReadPercentage) readPercentage = Find<decltype(&ReadPercentage)>("ReadPercentage");

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


// The system's text for code as the wide functions give it, in UTF-8.
inline std::string WideSystemText(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const std::string result = text ? Utf8(text) : "";
    if (text)
        LocalFree(text);
    return result;
}
