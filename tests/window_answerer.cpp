// Answers the boxes and dialogs of another program, in order, as a user would,
// and prints what each showed. Optionally saves a picture of each window first.
//   box CAPTION [PICTURE.bmp]          read the message box's text, press OK
//   pick TITLE PATH [PICTURE.bmp]      type PATH into the file dialog, press Open
//   cancel TITLE [PICTURE.bmp]         read the dialog's filter, press Cancel
// Exits 1 as soon as a window does not come.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "window_finder.h"

namespace {

using namespace window_finder;

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
    HWND window = WaitForWindow(caption, 0);
    if (!window)
        printf("%s %s: no such window came\n", verb, caption);
    return window;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc;) {
        const char* verb = argv[i];
        const int fixed = strcmp(verb, "pick") == 0 ? 3 : 2;
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
