#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "import_patch.h"

// Stands in for MessageBoxA in one module's import table and records every box
// that the module asks for, answering each with OK.
class MessageBoxRecorder {
public:
    struct Box {
        HWND owner;
        std::string text;
        std::string caption;
        UINT style;
    };

    explicit MessageBoxRecorder(HMODULE module)
        : patch_(module, "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(Record))
    {
        Boxes().clear();
    }

    bool Applied() const { return patch_.Applied(); }
    static std::vector<Box>& Boxes()
    {
        static std::vector<Box> boxes;
        return boxes;
    }

private:
    static int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
    {
        Boxes().push_back({owner, text, caption, style});
        return IDOK;
    }

    ImportPatch patch_;
};

// The warning box's text for a failure with this code.
inline std::string WarningText(DWORD code, const std::string& systemText)
{
    return "Operation failed: errno = " + std::to_string(code) + "\n" + systemText;
}
