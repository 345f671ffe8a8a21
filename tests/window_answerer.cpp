// Starts a host program, answers the boxes and dialogs it opens, in order, as a user
// would, prints what each showed and waits for the host to end. Optionally saves a
// picture of each window first.
//   window-answerer "HOST COMMAND LINE" STEP...
// where each STEP is one of
//   box CAPTION [PICTURE.bmp]          read the message box's text, press OK
//   pick TITLE PATH [PICTURE.bmp]      type PATH into the file dialog, press Open
//   cancel TITLE [PICTURE.bmp]         read the dialog's filter, press Cancel
//   press TITLE BUTTON [PICTURE.bmp]   press the window's enabled button labelled BUTTON (&Install)
//   wait TITLE TEXT [PICTURE.bmp]      wait until a control of the window shows a text
//                                      that starts with TEXT
//   bar TITLE COUNT [PICTURE.bmp]      watch the window's progress bar until it has
//                                      shown COUNT positions; print them in tenths of
//                                      a percent of its range
//   answer TITLE Yes|No [PICTURE.bmp]  read the question box's text, press Yes or No,
//                                      and print the tick count of the press
//   marquee TITLE [PICTURE.bmp]        wait until the window shows a progress bar that
//                                      moves as a marquee
//   details TITLE [PICTURE.bmp]        print each item of the window's list view, as
//                                      "detail TEXT"
// Texts are UTF-16 inside and UTF-8 in what it prints. The host shares our standard
// handles, so its lines and ours arrive in one stream.
// Exits 0 when every window came and the host ended by itself, and 1 otherwise (a
// host whose window never came is ended); prints the host's exit code last.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <wchar.h>

#include <initializer_list>
#include <string>

namespace {

constexpr int kPatience = 60000;  // milliseconds; only turns a hang into a failure

struct CaptionSearch {
    const wchar_t* caption;
    bool question;  // a box with a Yes button, which has its installer's caption
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<CaptionSearch*>(parameter);
    wchar_t caption[256] = L"";
    GetWindowTextW(window, caption, 256);
    if (lstrcmpW(caption, search->caption) != 0 || !IsWindowVisible(window) ||
        (search->question && !GetDlgItem(window, IDYES)))
        return TRUE;
    search->found = window;
    return FALSE;
}

// Waits for a visible top-level window with this caption; null if none came in time.
HWND WaitForWindow(const wchar_t* caption, bool question = false)
{
    for (int waited = 0; waited < kPatience; waited += 20) {
        Sleep(20);
        CaptionSearch search = {caption, question, nullptr};
        EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
    }
    return nullptr;
}

// How a child window is told by name.
enum class Named {
    Class,      // its class is name
    ClassPart,  // its class holds name, in lower case (Inno's TNewProgressBar is a bar)
    Button,     // visible and enabled, with the text name
    TextStart,  // visible, with a text that starts with name
};

struct ChildSearch {
    const wchar_t* name;
    Named how;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM parameter)
{
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    wchar_t name[256] = L"";
    // WM_GETTEXT, unlike GetWindowText, asks a control of another process itself.
    const bool byText = search->how == Named::Button || search->how == Named::TextStart;
    if (byText)
        SendMessageW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(name));
    else
        GetClassNameW(child, name, 256);
    const bool named = search->how == Named::ClassPart   ? wcsstr(CharLowerW(name), search->name) != nullptr
                       : search->how == Named::TextStart ? wcsncmp(name, search->name, wcslen(search->name)) == 0
                                                         : lstrcmpiW(name, search->name) == 0;
    const bool shown = search->how == Named::Class || IsWindowVisible(child);
    if (!named || !shown || (search->how == Named::Button && !IsWindowEnabled(child)))
        return TRUE;
    search->found = child;
    return FALSE;
}

HWND FindChild(HWND parent, const wchar_t* name, Named how)
{
    ChildSearch search = {name, how, nullptr};
    EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The same, waiting for it within the patience: the window may still build its page.
HWND WaitForChild(HWND parent, const wchar_t* name, Named how)
{
    HWND found = nullptr;
    for (int waited = 0; !found && waited < kPatience; waited += 20) {
        Sleep(20);
        found = FindChild(parent, name, how);
    }
    return found;
}

// A message box's text lives in its static control with id 0xFFFF.
std::wstring MessageBoxText(HWND box)
{
    wchar_t text[2048] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    return text;
}

void Click(HWND dialog, int button)
{
    SendMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
}


// The file-open dialog's filter list and its file name field (an Edit inside the
// combo box with id 0x47C on the dialogs we run under).
HWND FilterList(HWND dialog)
{
    return GetDlgItem(dialog, 0x470);
}

HWND FileNameField(HWND dialog)
{
    return FindChild(GetDlgItem(dialog, 0x47C), L"Edit", Named::Class);
}

// Prints texts as UTF-8, with line ends shown as \r and \n.
void Print(const std::wstring& text)
{
    std::wstring escaped;
    for (wchar_t c : text)
        escaped += c == L'\r' ? L"\\r" : c == L'\n' ? L"\\n" : std::wstring(1, c);
    std::string bytes(escaped.size() * 3, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, escaped.data(), static_cast<int>(escaped.size()),
                                                         &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr)));
    fputs(bytes.c_str(), stdout);
}

void PrintLine(std::initializer_list<std::wstring> parts)
{
    for (const std::wstring& part : parts)
        Print(part);
    fputs("\n", stdout);
    fflush(stdout);
}

// Saves what the screen shows of the window as a 24-bit bitmap file.
void SavePicture(HWND window, const wchar_t* path)
{
    Sleep(700);  // let it finish painting
    RECT frame;
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const DWORD rowSize = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::string pixels(rowSize * static_cast<DWORD>(height), '\0');
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), &pixels[0], reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    if (FILE* file = _wfopen(path, L"wb")) {
        fwrite(&header, sizeof header, 1, file);
        fwrite(&info, sizeof info, 1, file);
        fwrite(pixels.data(), 1, pixels.size(), file);
        fclose(file);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// The positions that the window's progress bar shows, in tenths of a percent of its
// range, until count have come (each other than the one before).
std::wstring WatchBar(HWND window, int count)
{
    const HWND bar = WaitForChild(window, L"progress", Named::ClassPart);
    std::wstring shown;
    LRESULT last = -1;
    for (int waited = 0, seen = 0; bar && seen < count && waited < kPatience; waited += 10) {
        Sleep(10);
        const LRESULT range = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
        const LRESULT position = range > 0 ? SendMessageW(bar, PBM_GETPOS, 0, 0) * 1000 / range : 0;
        if (position != last && position > 0) {
            shown += (seen++ ? L" " : L"") + std::to_wstring(position);
            last = position;
        }
    }
    return shown;
}

// The items of a list view of another process: the item and its text are read in
// memory of that process, where the list writes them.
void PrintItems(HWND list)
{
    DWORD id = 0;
    GetWindowThreadProcessId(list, &id);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id);
    constexpr int kRoom = 1024;  // characters of an item's text
    char* remote = process ? static_cast<char*>(VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kRoom * 2,
                                                                MEM_COMMIT, PAGE_READWRITE))
                           : nullptr;
    const LRESULT count = remote ? SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < count; ++i) {
        LVITEMW item = {};
        item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof item);
        item.cchTextMax = kRoom;
        wchar_t text[kRoom] = L"";
        SIZE_T moved = 0;
        WriteProcessMemory(process, remote, &item, sizeof item, &moved);
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process, remote + sizeof item, text, sizeof text - 2, &moved);
        PrintLine({L"detail ", text});
    }
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (process)
        CloseHandle(process);
}

HWND Arrive(const wchar_t* verb, const wchar_t* caption)
{
    HWND window = WaitForWindow(caption);
    if (!window)
        PrintLine({verb, L" ", caption, L": no such window came"});
    return window;
}

HWND ArriveQuestion(const wchar_t* caption)
{
    HWND question = WaitForWindow(caption, true);
    if (!question)
        PrintLine({L"answer ", caption, L": no question came"});
    return question;
}

// Answers one step; false if its window (or button) did not come.
bool Answer(const wchar_t* verb, const wchar_t* caption, const wchar_t* argument, const wchar_t* picture)
{
    // A question box has its installer's caption: it is the window with Yes and No.
    HWND window = !wcscmp(verb, L"answer") ? ArriveQuestion(caption) : Arrive(verb, caption);
    if (!window)
        return false;
    if (picture)
        SavePicture(window, picture);
    if (!wcscmp(verb, L"box")) {
        PrintLine({L"box ", caption, L": ", MessageBoxText(window)});
        Click(window, IDOK);
    } else if (!wcscmp(verb, L"pick")) {
        SendMessageW(FileNameField(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argument));
        PrintLine({L"pick ", caption, L": typed ", argument});
        Click(window, IDOK);
    } else if (!wcscmp(verb, L"press")) {
        const HWND button = WaitForChild(window, argument, Named::Button);
        if (!button) {
            PrintLine({L"press ", caption, L": no button ", argument, L" came"});
            return false;
        }
        PrintLine({L"press ", caption, L": ", argument});
        // Posted: the button's work (a whole installation) may open the next window.
        PostMessageW(button, BM_CLICK, 0, 0);
    } else if (!wcscmp(verb, L"wait")) {
        if (!WaitForChild(window, argument, Named::TextStart)) {
            PrintLine({L"wait ", caption, L": no text ", argument, L" came"});
            return false;
        }
        PrintLine({L"wait ", caption, L": ", argument});
    } else if (!wcscmp(verb, L"bar")) {
        PrintLine({L"bar ", caption, L": ", WatchBar(window, _wtoi(argument))});
    } else if (!wcscmp(verb, L"marquee")) {
        const HWND bar = WaitForChild(window, L"progress", Named::ClassPart);
        if (!bar || !(GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE)) {
            PrintLine({L"marquee ", caption, bar ? L": the bar shows no marquee" : L": no bar came"});
            return false;
        }
        PrintLine({L"marquee ", caption, L": shown"});
    } else if (!wcscmp(verb, L"details")) {
        const HWND list = WaitForChild(window, L"SysListView32", Named::Class);
        if (!list) {
            PrintLine({L"details ", caption, L": no list came"});
            return false;
        }
        PrintItems(list);
    } else if (!wcscmp(verb, L"answer")) {
        PrintLine({L"answer ", caption, L": ", MessageBoxText(window)});
        const bool yes = !wcscmp(argument, L"Yes");
        PrintLine({L"answered ", argument, L" at ", std::to_wstring(GetTickCount())});
        // Posted, as a user's click comes: the box's own loop wakes for it.
        PostMessageW(GetDlgItem(window, yes ? IDYES : IDNO), BM_CLICK, 0, 0);
        // The answer reaches the host when its box is gone (under Xvfb, with no window
        // manager to tell Wine that a window was withdrawn, Wine waits 2 s for that).
        for (int waited = 0; IsWindow(window) && waited < kPatience; waited += 5)
            Sleep(5);
        PrintLine({L"box gone at ", std::to_wstring(GetTickCount())});
    } else {
        // WM_GETTEXT, unlike CB_GETLBTEXT, carries its text across processes.
        wchar_t filter[256] = L"";
        SendMessageW(FilterList(window), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(filter));
        PrintLine({L"cancel ", caption, L": filter ", filter});
        Click(window, IDCANCEL);
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fputs("usage: window-answerer \"HOST COMMAND LINE\" STEP...\n", stderr);
        return 2;
    }
    std::wstring commandLine = argv[1];
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        PrintLine({L"host ", argv[1], L": cannot start it, error ", std::to_wstring(GetLastError())});
        return 1;
    }
    CloseHandle(process.hThread);
    bool answered = true;
    for (int i = 2; answered && i < argc;) {
        const wchar_t* verb = argv[i];
        const bool known = !wcscmp(verb, L"box") || !wcscmp(verb, L"pick") || !wcscmp(verb, L"cancel") ||
                           !wcscmp(verb, L"press") || !wcscmp(verb, L"wait") || !wcscmp(verb, L"bar") ||
                           !wcscmp(verb, L"answer") || !wcscmp(verb, L"marquee") || !wcscmp(verb, L"details");
        const int fixed =
            !wcscmp(verb, L"box") || !wcscmp(verb, L"cancel") || !wcscmp(verb, L"marquee") || !wcscmp(verb, L"details")
                ? 2
                : 3;
        if (!known || i + fixed > argc) {
            PrintLine({L"window-answerer: ", verb, L": unknown step or too few arguments"});
            answered = false;
            break;
        }
        const wchar_t* picture = i + fixed < argc && wcsstr(argv[i + fixed], L".bmp") ? argv[i + fixed] : nullptr;
        answered = Answer(verb, argv[i + 1], fixed == 3 ? argv[i + 2] : nullptr, picture);
        i += fixed + (picture ? 1 : 0);
    }
    const bool ended = WaitForSingleObject(process.hProcess, answered ? kPatience : 0) == WAIT_OBJECT_0;
    if (!ended) {
        PrintLine({L"host ", argv[1], L": still running, ended now"});
        TerminateProcess(process.hProcess, 1);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    PrintLine({L"host exit code ", std::to_wstring(code)});
    CloseHandle(process.hProcess);
    return answered && ended ? 0 : 1;
}
