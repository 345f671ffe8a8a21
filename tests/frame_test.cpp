// The frame's helpers, linked straight into this program, and the DLL's entry point.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "frame.h"
#include "import_patch.h"
#include "tarvo_library.h"

namespace {

constexpr DWORD kCodeWithoutText = 0x2000FFFF;

struct MessageBoxCall {
    int calls = 0;
    HWND owner = reinterpret_cast<HWND>(-1);
    std::string text, caption;
    UINT style = 0;
} g_box;

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    ++g_box.calls;
    g_box.owner = owner;
    g_box.text = text;
    g_box.caption = caption;
    g_box.style = style;
    return IDOK;
}

TEST(GetSystemErrorText, GivesTheSystemSentenceWithItsLineBreak)
{
    char buffer[kMessageSize];
    EXPECT_EQ(buffer, GetSystemErrorText(ERROR_FILE_NOT_FOUND, buffer, sizeof buffer));
    const std::string expected = SystemText(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(expected, buffer);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ('\n', expected.back());
}

TEST(GetSystemErrorText, CutsAtCapacity)
{
    const std::string full = SystemText(ERROR_ACCESS_DENIED);
    for (DWORD capacity : {1u, 2u, 6u}) {
        char buffer[8] = "#######";
        GetSystemErrorText(ERROR_ACCESS_DENIED, buffer, capacity);
        EXPECT_EQ(full.substr(0, capacity - 1), buffer) << "capacity " << capacity;
        EXPECT_EQ('#', buffer[capacity]) << "written past capacity " << capacity;
    }
}

TEST(GetSystemErrorText, CodeWithoutTextGivesEmptyString)
{
    ASSERT_EQ("", SystemText(kCodeWithoutText));
    char buffer[16] = "stale";
    GetSystemErrorText(kCodeWithoutText, buffer, sizeof buffer);
    EXPECT_STREQ("", buffer);
}

TEST(ReportFailure, ShowsCodeAndSystemTextInWarningBox)
{
    ImportPatch patch(GetModuleHandleA(nullptr), "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(RecordingMessageBox));
    ASSERT_TRUE(patch.Applied());
    g_box = {};
    ReportFailure(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(1, g_box.calls);
    EXPECT_EQ(nullptr, g_box.owner);
    EXPECT_EQ("Operation failed: errno = 2\n" + SystemText(ERROR_FILE_NOT_FOUND), g_box.text);
    EXPECT_EQ("Tarvo Setup", g_box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), g_box.style);
}

TEST(ReportFailure, CodeWithoutTextStillShowsTheNumber)
{
    ImportPatch patch(GetModuleHandleA(nullptr), "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(RecordingMessageBox));
    g_box = {};
    ReportFailure(kCodeWithoutText);
    EXPECT_EQ(1, g_box.calls);
    EXPECT_EQ("Operation failed: errno = " + std::to_string(kCodeWithoutText) + "\n", g_box.text);
}

TEST(DllMain, AnswersThreadNotificationsWithSuccess)
{
    HMODULE module = LoadLibraryA("TarvoSetup.DLL");
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    auto base = reinterpret_cast<BYTE*>(module);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    auto entry = reinterpret_cast<BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID)>(base + nt->OptionalHeader.AddressOfEntryPoint);
    EXPECT_EQ(TRUE, entry(module, DLL_THREAD_ATTACH, nullptr));
    EXPECT_EQ(TRUE, entry(module, DLL_THREAD_DETACH, nullptr));
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
