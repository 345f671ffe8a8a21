// Starts a host program, answers the boxes and dialogs it opens, in order, as a user
// would, prints what each showed and waits for the host to end. Optionally saves a
// picture of each window first.
//   window-answerer "HOST COMMAND LINE" STEP...
// where each STEP is one of
//   box CAPTION [PICTURE.bmp]          read the message box's text, press OK
//   pick TITLE PATH [PICTURE.bmp]      type PATH into the file dialog, press Open
//   cancel TITLE [PICTURE.bmp]         read the dialog's filter, press Cancel
//   press TITLE BUTTON [PICTURE.bmp]   press the window's button labelled BUTTON (&Install)
// The host shares our standard handles, so its lines and ours arrive in one stream.
// Exits 0 when every window came and the host ended by itself, and 1 otherwise (a
// host whose window never came is ended).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

constexpr int kPatience = 60000;  // milliseconds; only turns a hang into a failure

struct CaptionSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<CaptionSearch*>(parameter);
    char caption[256] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (lstrcmpA(caption, search->caption) != 0 || !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// Waits for a visible top-level window with this caption; null if none came in time.
HWND WaitForWindow(const char* caption)
{
    for (int waited = 0; waited < kPatience; waited += 50) {
        Sleep(50);
        CaptionSearch search = {caption, nullptr};
        EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
    }
    return nullptr;
}

// A child window whose class (or, with byText, whose text) is name.
struct ChildSearch {
    const char* name;
    bool byText;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM parameter)
{
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    char name[256] = "";
    // WM_GETTEXT, unlike GetWindowText, asks a control of another process itself.
    if (search->byText)
        SendMessageA(child, WM_GETTEXT, sizeof name, reinterpret_cast<LPARAM>(name));
    else
        GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, search->name) != 0 || (search->byText && !IsWindowVisible(child)))
        return TRUE;
    search->found = child;
    return FALSE;
}

HWND FindChild(HWND parent, const char* name, bool byText)
{
    ChildSearch search = {name, byText, nullptr};
    EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box's text lives in its static control with id 0xFFFF.
std::string MessageBoxText(HWND box)
{
    char text[2048] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    return text;
}

void Click(HWND dialog, int button)
{
    SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
}


// The file-open dialog's filter list and its file name field (an Edit inside the
// combo box with id 0x47C on the dialogs we run under).
HWND FilterList(HWND dialog)
{
    return GetDlgItem(dialog, 0x470);
}

HWND FileNameField(HWND dialog)
{
    return FindChild(GetDlgItem(dialog, 0x47C), "Edit", false);
}

// Prints text on one line, with line ends shown as \r and \n.
void PrintEscaped(const std::string& text)
{
    for (char c : text) {
        if (c == '\r')
            fputs("\\r", stdout);
        else if (c == '\n')
            fputs("\\n", stdout);
        else
            putchar(c);
    }
    putchar('\n');
}

// Saves what the screen shows of the window as a 24-bit bitmap file.
void SavePicture(HWND window, const char* path)
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
    if (FILE* file = fopen(path, "wb")) {
        fwrite(&header, sizeof header, 1, file);
        fwrite(&info, sizeof info, 1, file);
        fwrite(pixels.data(), 1, pixels.size(), file);
        fclose(file);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

HWND Arrive(const char* verb, const char* caption)
{
    HWND window = WaitForWindow(caption);
    if (!window)
        printf("%s %s: no such window came\n", verb, caption);
    return window;
}

// Answers one step; false if its window (or button) did not come.
bool Answer(const char* verb, const char* caption, const char* argument, const char* picture)
{
    HWND window = Arrive(verb, caption);
    if (!window)
        return false;
    if (picture)
        SavePicture(window, picture);
    if (strcmp(verb, "box") == 0) {
        printf("box %s: ", caption);
        PrintEscaped(MessageBoxText(window));
        Click(window, IDOK);
    } else if (strcmp(verb, "pick") == 0) {
        SendMessageA(FileNameField(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argument));
        printf("pick %s: typed %s\n", caption, argument);
        Click(window, IDOK);
    } else if (strcmp(verb, "press") == 0) {
        // The window may still be building its page: wait for the button too.
        HWND button = nullptr;
        for (int waited = 0; !button && waited < kPatience; waited += 50) {
            Sleep(50);
            button = FindChild(window, argument, true);
        }
        if (!button) {
            printf("press %s: no button %s came\n", caption, argument);
            return false;
        }
        printf("press %s: %s\n", caption, argument);
        // Posted: the button's work (a whole installation) may open the next window.
        PostMessageA(button, BM_CLICK, 0, 0);
    } else {
        // WM_GETTEXT, unlike CB_GETLBTEXT, carries its text across processes.
        char filter[256] = "";
        SendMessageA(FilterList(window), WM_GETTEXT, sizeof filter, reinterpret_cast<LPARAM>(filter));
        printf("cancel %s: filter %s\n", caption, filter);
        Click(window, IDCANCEL);
    }
    fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: window-answerer \"HOST COMMAND LINE\" STEP...\n");
        return 2;
    }
    std::string commandLine = argv[1];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        printf("host %s: cannot start it, error %lu\n", argv[1], GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    bool answered = true;
    for (int i = 2; answered && i < argc;) {
        const char* verb = argv[i];
        const bool known = !strcmp(verb, "box") || !strcmp(verb, "pick") || !strcmp(verb, "cancel") ||
                           !strcmp(verb, "press");
        const int fixed = !strcmp(verb, "pick") || !strcmp(verb, "press") ? 3 : 2;
        if (!known || i + fixed > argc) {
            printf("window-answerer: %s: unknown step or too few arguments\n", verb);
            answered = false;
            break;
        }
        const char* picture = i + fixed < argc && strstr(argv[i + fixed], ".bmp") ? argv[i + fixed] : nullptr;
        answered = Answer(verb, argv[i + 1], fixed == 3 ? argv[i + 2] : nullptr, picture);
        i += fixed + (picture ? 1 : 0);
    }
    const bool ended = WaitForSingleObject(process.hProcess, answered ? kPatience : 0) == WAIT_OBJECT_0;
    if (!ended) {
        printf("host %s: still running, ended now\n", argv[1]);
        TerminateProcess(process.hProcess, 1);
    }
    fflush(stdout);
    CloseHandle(process.hProcess);
    return answered && ended ? 0 : 1;
}
