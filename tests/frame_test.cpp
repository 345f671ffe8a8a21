// The frame's helpers, linked straight into this program, and the DLL's entry point.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "frame.h"
#include "message_box_recorder.h"
#include "tarvo_library.h"

namespace {

constexpr DWORD kCodeWithoutText = 0x2000FFFF;

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
    MessageBoxRecorder recorder(GetModuleHandleA(nullptr));
    ASSERT_TRUE(recorder.Applied());
    ReportFailure(ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(1u, recorder.Boxes().size());
    const auto& box = recorder.Boxes()[0];
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ(WarningText(ERROR_FILE_NOT_FOUND, SystemText(ERROR_FILE_NOT_FOUND)), box.text);
    EXPECT_EQ("Tarvo Setup", box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), box.style);
}

TEST(ReportFailure, CodeWithoutTextStillShowsTheNumber)
{
    MessageBoxRecorder recorder(GetModuleHandleA(nullptr));
    ReportFailure(kCodeWithoutText);
    ASSERT_EQ(1u, recorder.Boxes().size());
    EXPECT_EQ("Operation failed: errno = 536936447\n", recorder.Boxes()[0].text);
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
