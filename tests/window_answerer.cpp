// Answers the boxes and dialogs of another program, in order, as a user would,
// and prints what each showed. Optionally saves a picture of each window first.
//   box CAPTION [PICTURE.bmp]          read the message box's text, press OK
//   pick TITLE PATH [PICTURE.bmp]      type PATH into the file dialog, press Open
//   cancel TITLE [PICTURE.bmp]         read the dialog's filter, press Cancel
//   press TITLE BUTTON [PICTURE.bmp]   press the window's button labelled BUTTON (&Install)
// Exits 1 as soon as a window does not come.
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

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc;) {
        const char* verb = argv[i];
        const int fixed = strcmp(verb, "pick") == 0 || strcmp(verb, "press") == 0 ? 3 : 2;
        if (i + fixed > argc) {
            fprintf(stderr, "window-answerer: %s needs more arguments\n", verb);
            return 2;
        }
        const char* caption = argv[i + 1];
        const char* picture = i + fixed < argc && strstr(argv[i + fixed], ".bmp") ? argv[i + fixed] : nullptr;
        HWND window = Arrive(verb, caption);
        if (!window)
            return 1;
        if (picture)
            SavePicture(window, picture);
        if (strcmp(verb, "box") == 0) {
            printf("box %s: ", caption);
            PrintEscaped(MessageBoxText(window));
            Click(window, IDOK);
        } else if (strcmp(verb, "pick") == 0) {
            SendMessageA(FileNameField(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[i + 2]));
            printf("pick %s: typed %s\n", caption, argv[i + 2]);
            Click(window, IDOK);
        } else if (strcmp(verb, "press") == 0) {
            // The window may still be building its page: wait for the button too.
            HWND button = nullptr;
            for (int waited = 0; !button && waited < kPatience; waited += 50) {
                Sleep(50);
                button = FindChild(window, argv[i + 2], true);
            }
            if (!button) {
                printf("press %s: no button %s came\n", caption, argv[i + 2]);
                return 1;
            }
            printf("press %s: %s\n", caption, argv[i + 2]);
            // Posted: the button's work (a whole installation) may open the next window.
            PostMessageA(button, BM_CLICK, 0, 0);
        } else if (strcmp(verb, "cancel") == 0) {
            // WM_GETTEXT, unlike CB_GETLBTEXT, carries its text across processes.
            char filter[256] = "";
            SendMessageA(FilterList(window), WM_GETTEXT, sizeof filter, reinterpret_cast<LPARAM>(filter));
            printf("cancel %s: filter %s\n", caption, filter);
            Click(window, IDCANCEL);
        } else {
            fprintf(stderr, "window-answerer: unknown step %s\n", verb);
            return 2;
        }
        fflush(stdout);
        i += fixed + (picture ? 1 : 0);
    }
    return 0;
}
