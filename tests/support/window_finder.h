#pragma once

#include <windows.h>

#include <string>

// Finds and answers the library's boxes and dialogs as a user would: by caption,
// from another thread or process.
namespace window_finder {

constexpr int kPatience = 30000;  // milliseconds; only turns a hang into a failure

struct CaptionSearch {
    const char* caption;
    DWORD process;  // 0: any process
    HWND found;
};

inline BOOL CALLBACK MatchCaption(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<CaptionSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char caption[256] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if ((search->process && process != search->process) || lstrcmpA(caption, search->caption) != 0 ||
        !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// Waits for a visible top-level window with this caption; null if none came in time.
inline HWND WaitForWindow(const char* caption, DWORD process)
{
    for (int waited = 0; waited < kPatience; waited += 50) {
        Sleep(50);
        CaptionSearch search = {caption, process, nullptr};
        EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
    }
    return nullptr;
}

struct ClassSearch {
    const char* className;
    HWND found;
};

inline BOOL CALLBACK MatchClass(HWND child, LPARAM parameter)
{
    auto* search = reinterpret_cast<ClassSearch*>(parameter);
    char name[64];
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, search->className) != 0)
        return TRUE;
    search->found = child;
    return FALSE;
}

inline HWND FindChildOfClass(HWND parent, const char* className)
{
    ClassSearch search = {className, nullptr};
    EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box's text lives in its static control with id 0xFFFF.
inline std::string MessageBoxText(HWND box)
{
    char text[2048] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    return text;
}

inline void Click(HWND dialog, int button)
{
    SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
}

inline std::string ComboItem(HWND combo, WPARAM index)
{
    char text[256] = "";
    SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

// The file-open dialog's filter list and its file name field (an Edit inside the
// combo box with id 0x47C on the dialogs we run under).
inline HWND FilterList(HWND dialog)
{
    return GetDlgItem(dialog, 0x470);
}

inline HWND FileNameField(HWND dialog)
{
    return FindChildOfClass(GetDlgItem(dialog, 0x47C), "Edit");
}

}  // namespace window_finder
