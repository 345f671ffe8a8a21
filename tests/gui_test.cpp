// The real message boxes and the real file-open dialog, under a (virtual) display.
// A second thread of this host finds each window by its caption, reads it and
// answers it, as a user would.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "tarvo_library.h"
#include "window_finder.h"

namespace {

using namespace window_finder;

std::string TempPath(const char* name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

// Waits on its own thread for a top-level window of this process with this caption
// (other test programs may show the same caption at the same time), then hands it
// to answer; the window handle is null if it never came.
class WindowAnswerer {
public:
    template <typename Answer>
    WindowAnswerer(const char* caption, Answer answer)
        : thread_([caption, answer] { answer(WaitForWindow(caption, GetCurrentProcessId())); })
    {
    }
    ~WindowAnswerer() { thread_.join(); }

private:
    std::thread thread_;
};

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
            text = MessageBoxText(box);
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
            text = MessageBoxText(box);
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
            HWND filters = FilterList(dialog);
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
            HWND name = dialog ? FileNameField(dialog) : nullptr;
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
