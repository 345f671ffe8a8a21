#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "import_patch.h"
#include "tarvo_library.h"

// Stands in for MessageBoxA and MessageBoxW in one module's import table and records
// every box that the module asks for (wide texts as UTF-8), answering each with OK.
class MessageBoxRecorder {
public:
    struct Box {
        HWND owner;
        std::string text;
        std::string caption;
        UINT style;
        bool wide;
    };

    explicit MessageBoxRecorder(HMODULE module)
        : ansi_(module, "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(Record)),
          wide_(module, "USER32.dll", "MessageBoxW", reinterpret_cast<void*>(RecordWide))
    {
        Boxes().clear();
    }

    // The ANSI box is always imported; the wide one only by the DLL.
    bool Applied() const { return ansi_.Applied(); }
    bool WideApplied() const { return wide_.Applied(); }
    static std::vector<Box>& Boxes()
    {
        static std::vector<Box> boxes;
        return boxes;
    }

private:
    static int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
    {
        Boxes().push_back({owner, text, caption, style, false});
        return IDOK;
    }

    static int WINAPI RecordWide(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
    {
        Boxes().push_back({owner, Utf8(text), Utf8(caption), style, true});
        return IDOK;
    }

    ImportPatch ansi_;
    ImportPatch wide_;
};

// The warning box's text for a failure with this code.
inline std::string WarningText(DWORD code, const std::string& systemText)
{
    return "Operation failed: errno = " + std::to_string(code) + "\n" + systemText;
}
