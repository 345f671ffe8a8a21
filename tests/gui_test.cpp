// The real message boxes and the real file-open dialog, under a (virtual) display.
// A second thread of this host finds each window by its caption, reads it and
// answers it, as a user would.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "tarvo_library.h"

namespace {

constexpr int kPatience = 30000;  // milliseconds; only turns a hang into a failure

std::string TempPath(const char* name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

struct CaptionSearch {
    const char* caption;
    HWND found;
};

// Other test programs may show windows with the same caption at the same time.
BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<CaptionSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char caption[256] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (process != GetCurrentProcessId() || lstrcmpA(caption, search->caption) != 0 || !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindOwnWindow(const char* caption)
{
    CaptionSearch search = {caption, nullptr};
    EnumWindows(MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits on its own thread for a top-level window of this process with this caption,
// then hands it to answer; the window handle is null if it never came.
class WindowAnswerer {
public:
    template <typename Answer>
    WindowAnswerer(const char* caption, Answer answer)
        : thread_([caption, answer] {
              HWND window = nullptr;
              for (int waited = 0; !window && waited < kPatience; waited += 50) {
                  Sleep(50);
                  window = FindOwnWindow(caption);
              }
              answer(window);
          })
    {
    }
    ~WindowAnswerer() { thread_.join(); }

private:
    std::thread thread_;
};

void Click(HWND dialog, int button)
{
    SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
}

struct ClassSearch {
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchClass(HWND child, LPARAM parameter)
{
    auto* search = reinterpret_cast<ClassSearch*>(parameter);
    char name[64];
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, search->className) != 0)
        return TRUE;
    search->found = child;
    return FALSE;
}

HWND FindChildOfClass(HWND parent, const char* className)
{
    ClassSearch search = {className, nullptr};
    EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ComboItem(HWND combo, WPARAM index)
{
    char text[256] = "";
    SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

TEST(Gui, InformationBoxShowsTheFileAndClosesOnOk)
{
    const std::string path = TempPath("tarvo-gui-notice.txt");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    WriteFile(file, "Read me first.\r\nThen install.", 29, nullptr, nullptr);
    CloseHandle(file);

    bool seen = false;
    std::string text;
    int result = 99;
    {
        WindowAnswerer answerer("TarvoSetup notice test", [&](HWND box) {
            seen = box != nullptr;
            if (!box)
                return;
            char buffer[256] = "";
            GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
            text = buffer;
            Click(box, IDOK);
        });
        result = TarvoLibrary::Get().showMsg(path.c_str(), "TarvoSetup notice test");
    }
    DeleteFileA(path.c_str());
    ASSERT_TRUE(seen) << "no box titled \"TarvoSetup notice test\" appeared";
    EXPECT_EQ("Read me first.\r\nThen install.", text);
    EXPECT_EQ(0, result);
}

TEST(Gui, WarningBoxShowsTheFailure)
{
    const std::string folder = TempPath("tarvo-gui-folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    bool seen = false;
    std::string text;
    int result = 99;
    {
        WindowAnswerer answerer("Tarvo Setup", [&](HWND box) {
            seen = box != nullptr;
            if (!box)
                return;
            char buffer[1024] = "";
            GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
            text = buffer;
            Click(box, IDOK);
        });
        result = TarvoLibrary::Get().showMsg(folder.c_str(), "never shown");
    }
    RemoveDirectoryA(folder.c_str());
    ASSERT_TRUE(seen) << "no box titled \"Tarvo Setup\" appeared";
    EXPECT_EQ("Operation failed: errno = 5\n" + SystemText(ERROR_ACCESS_DENIED), text);
    EXPECT_EQ(-1, result);
}

TEST(Gui, FileDialogOffersPatchFilesAndCancels)
{
    bool seen = false;
    std::string selectedFilter, secondFilter;
    char path[255] = "";
    int stored = 99;
    int result = 99;
    {
        WindowAnswerer answerer("Please choose a Patch File", [&](HWND dialog) {
            seen = dialog != nullptr;
            if (!dialog)
                return;
            HWND filters = GetDlgItem(dialog, 0x470);
            selectedFilter = ComboItem(filters, SendMessageA(filters, CB_GETCURSEL, 0, 0));
            secondFilter = ComboItem(filters, 1);
            Click(dialog, IDCANCEL);
        });
        result = TarvoLibrary::Get().selectPatchFile(&stored, path);
    }
    ASSERT_TRUE(seen) << "no dialog titled \"Please choose a Patch File\" appeared";
    EXPECT_EQ("Patch Files (*.z)", selectedFilter);
    EXPECT_EQ("All Files (*.*)", secondFilter);
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, stored);
}

TEST(Gui, FileDialogReturnsTheChosenPatchFile)
{
    const std::string patch = TempPath("tarvo-gui-fix.z");
    CloseHandle(CreateFileA(patch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    bool typed = false;
    char path[255] = "";
    int stored = 99;
    int result = 99;
    {
        WindowAnswerer answerer("Please choose a Patch File", [&](HWND dialog) {
            HWND name = dialog ? FindChildOfClass(GetDlgItem(dialog, 0x47C), "Edit") : nullptr;
            typed = name != nullptr;
            if (typed) {
                SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(patch.c_str()));
                Click(dialog, IDOK);
            } else if (dialog) {
                Click(dialog, IDCANCEL);
            }
        });
        result = TarvoLibrary::Get().selectPatchFile(&stored, path);
    }
    DeleteFileA(patch.c_str());
    ASSERT_TRUE(typed) << "the dialog or its file name field was not found";
    EXPECT_NE(0, result);
    EXPECT_EQ(result, stored);
    EXPECT_EQ(0, lstrcmpiA(patch.c_str(), path)) << "chosen path: " << path;
}

}  // namespace
