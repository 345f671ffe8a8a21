// ShowMsg with MessageBoxA recorded in the DLL's import table.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "message_box_recorder.h"
#include "process_census.h"
#include "tarvo_library.h"

namespace {

std::string TempPath(const char* name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

// A file in the temp folder with the given bytes, removed again at the end of the test.
class TempFile {
public:
    TempFile(const char* name, const std::string& bytes) : path_(TempPath(name))
    {
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    ~TempFile() { DeleteFileA(path_.c_str()); }
    const char* Path() const { return path_.c_str(); }

private:
    std::string path_;
};

void* __cdecl FailingCalloc(size_t, size_t)
{
    return nullptr;
}

class ShowMsgTest : public testing::Test {
protected:
    int Show(const std::string& path, const char* caption = "Notice")
    {
        return TarvoLibrary::Get().showMsg(path.c_str(), caption);
    }
    const std::vector<MessageBoxRecorder::Box>& Boxes() const { return recorder_.Boxes(); }

    // Exactly one warning box, for code.
    void ExpectWarning(DWORD code)
    {
        ASSERT_EQ(1u, Boxes().size()) << "boxes shown";
        EXPECT_EQ(WarningText(code, SystemText(code)), Boxes()[0].text);
        EXPECT_EQ("Tarvo Setup", Boxes()[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), Boxes()[0].style);
    }

    MessageBoxRecorder recorder_{TarvoLibrary::Get().module};
};

TEST_F(ShowMsgTest, ShowsTheFileByteForByteUnderTheHostsCaption)
{
    const std::string text = "First line\r\nSecond line\r\n\tindented\r\n";
    TempFile file("tarvo-notice.txt", text);
    EXPECT_EQ(0, Show(file.Path(), "Tarvo 6 release notes"));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(nullptr, Boxes()[0].owner);
    EXPECT_EQ(text, Boxes()[0].text);
    EXPECT_EQ("Tarvo 6 release notes", Boxes()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), Boxes()[0].style);
}

TEST_F(ShowMsgTest, StopsAtTheFirstZeroByte)
{
    TempFile file("tarvo-zero-later.txt", std::string("shown\0hidden", 12));
    EXPECT_EQ(0, Show(file.Path()));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("shown", Boxes()[0].text);
}

TEST_F(ShowMsgTest, NothingToShowIsAQuietZero)
{
    TempFile empty("tarvo-empty.txt", "");
    TempFile zeroFirst("tarvo-zero-first.txt", std::string("\0text", 5));
    EXPECT_EQ(0, Show(empty.Path()));
    EXPECT_EQ(0, Show(zeroFirst.Path()));
    EXPECT_EQ(0, Show(TempPath("tarvo-no-such-notice.txt")));
    EXPECT_EQ(0, Show("Q:\\no\\such\\folder\\notice.txt"));
    EXPECT_EQ(0, TarvoLibrary::Get().showMsg(nullptr, "Notice"));
    EXPECT_EQ(0u, Boxes().size()) << "no box for a missing, empty or unnamed file";
}

TEST_F(ShowMsgTest, DirectoryCannotBeOpened)
{
    const std::string folder = TempPath("tarvo-folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_EQ(-1, Show(folder));
    RemoveDirectoryA(folder.c_str());
    ExpectWarning(ERROR_ACCESS_DENIED);
}

// Whether the runtime's status query fails for a folder named with a trailing
// separator, and with which last-error value, differs between systems (under Wine it
// fails and sets none, which is reported as 123): the code is the system's answer.
DWORD TrailingSeparatorCode(const std::string& folder)
{
    SetLastError(ERROR_SUCCESS);
    struct _stati64 status;
    if (_stati64(folder.c_str(), &status) == 0)
        return ERROR_ACCESS_DENIED;  // read as a folder: opening it fails
    const DWORD code = GetLastError();
    return code != ERROR_SUCCESS ? code : ERROR_INVALID_NAME;
}

TEST_F(ShowMsgTest, DirectoryWithTrailingSeparatorIsReported)
{
    const std::string folder = TempPath("tarvo-folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    const DWORD expected = TrailingSeparatorCode(folder + "\\");
    SetLastError(ERROR_MORE_DATA);  // whatever stood before must not be reported
    EXPECT_EQ(-1, Show(folder + "\\"));
    RemoveDirectoryA(folder.c_str());
    ExpectWarning(expected);
}

TEST_F(ShowMsgTest, FileLockedBySomeoneElse)
{
    TempFile file("tarvo-locked.txt", "locked");
    HANDLE lock = CreateFileA(file.Path(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    EXPECT_EQ(-1, Show(file.Path()));
    CloseHandle(lock);
    ExpectWarning(ERROR_SHARING_VIOLATION);
}

TEST_F(ShowMsgTest, AllocationFailureReportsNotEnoughMemory)
{
    TempFile file("tarvo-alloc.txt", "text");
    ImportPatch patch(TarvoLibrary::Get().module, "msvcrt.dll", "calloc", reinterpret_cast<void*>(FailingCalloc));
    ASSERT_TRUE(patch.Applied());
    SetLastError(ERROR_MORE_DATA);  // whatever stood before must not be reported
    EXPECT_EQ(-1, Show(file.Path()));
    ExpectWarning(ERROR_NOT_ENOUGH_MEMORY);
}

int g_reads = 0;

size_t __cdecl CountingFread(void*, size_t, size_t, FILE*)
{
    ++g_reads;
    return 0;
}

// Sparse files cost no disk. At 4 GiB - 1 bytes size + 1 no longer fits in 32 bits,
// so a 0-byte block would be allocated and then read into.
TEST_F(ShowMsgTest, FileOfFourGigabytesMinusOneOrMoreIsTooLarge)
{
    ImportPatch reads(TarvoLibrary::Get().module, "msvcrt.dll", "fread", reinterpret_cast<void*>(CountingFread));
    ASSERT_TRUE(reads.Applied());
    const std::string path = TempPath("tarvo-huge.txt");
    for (ULONGLONG size : {0xFFFFFFFFULL, 0x10000000AULL}) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;  // may be null only for an overlapped write
        WriteFile(file, "huge", 4, &written, nullptr);
        LARGE_INTEGER length;
        length.QuadPart = static_cast<LONGLONG>(size);
        SetFilePointerEx(file, length, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
        recorder_.Boxes().clear();
        g_reads = 0;
        EXPECT_EQ(-1, Show(path)) << "size 0x" << std::hex << size;
        EXPECT_EQ(0, g_reads) << "the file was read; size 0x" << std::hex << size;
        ExpectWarning(ERROR_FILE_TOO_LARGE);
    }
    DeleteFileA(path.c_str());
}

// The wide twin: a path that the ANSI code page cannot spell, and the text decoded
// by its byte-order mark, else as UTF-8 where it is valid UTF-8, else as ANSI.
TEST_F(ShowMsgTest, WideTwinDecodesByMarkThenUtf8ThenAnsi)
{
    ASSERT_TRUE(recorder_.WideApplied());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"tarvo-Ωμέγα-Юникод-統一碼";
    const std::wstring path = folder + L"\\notice.txt";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::string text = u8"Grüße – ✓ Ω";
    const std::wstring wide = L"Grüße – ✓ Ω";
    const std::string ansi = "Gr\xFC\xDF" "e 1\x80";  // not UTF-8
    wchar_t ansiDecoded[16] = L"";
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, ansiDecoded, 16);  // the system's answer
    const struct {
        const char* name;
        std::string bytes;
        std::string shown;  // empty: no box
    } cases[] = {
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + text, text},
        {"UTF-8 without a mark", text, text},
        {"UTF-16LE with its mark", "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.c_str()), 2 * wide.size()),
         text},
        {"ANSI", ansi, Utf8(ansiDecoded)},
        {"UTF-8 up to a zero byte", text + std::string("\0hidden", 7), text},
        {"a mark and nothing else", "\xEF\xBB\xBF", ""},
    };
    for (const auto& entry : cases) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, entry.bytes.data(), static_cast<DWORD>(entry.bytes.size()), &written, nullptr);
        CloseHandle(file);
        recorder_.Boxes().clear();
        EXPECT_EQ(0, TarvoLibrary::Get().showMsgW(path.c_str(), L"Grüße")) << entry.name;
        if (entry.shown.empty()) {
            EXPECT_EQ(0u, Boxes().size()) << entry.name << ": no box expected";
            continue;
        }
        ASSERT_EQ(1u, Boxes().size()) << entry.name;
        EXPECT_TRUE(Boxes()[0].wide) << entry.name << ": the wide box expected";
        EXPECT_EQ(entry.shown, Boxes()[0].text) << entry.name;
        EXPECT_EQ(u8"Grüße", Boxes()[0].caption) << entry.name;
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), Boxes()[0].style) << entry.name;
    }
    DeleteFileW(path.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(ShowMsgTest, WideTwinReportsInTheWideWarningBox)
{
    const std::string folder = TempPath("tarvo-folder-wide");
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::wstring wideFolder(folder.begin(), folder.end());
    EXPECT_EQ(-1, TarvoLibrary::Get().showMsgW(wideFolder.c_str(), L"Notice"));
    EXPECT_EQ(0, TarvoLibrary::Get().showMsgW(nullptr, L"Notice"));
    RemoveDirectoryA(folder.c_str());
    ASSERT_EQ(1u, Boxes().size()) << "boxes shown";
    EXPECT_TRUE(Boxes()[0].wide) << "the wide box expected";
    EXPECT_EQ(WarningText(ERROR_ACCESS_DENIED, WideSystemText(ERROR_ACCESS_DENIED)), Boxes()[0].text);
    EXPECT_EQ("Tarvo Setup", Boxes()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), Boxes()[0].style);
}

TEST_F(ShowMsgTest, LeavesNoHandleOpenOnAnyPath)
{
    TempFile file("tarvo-census.txt", "text");
    const std::string folder = TempPath("tarvo-census-folder");
    CreateDirectoryA(folder.c_str(), nullptr);
    Show(file.Path());
    const ProcessCensus before = ProcessCensus::Take();
    for (int i = 0; i < 20; ++i) {
        Show(file.Path());
        Show(folder);
        Show(folder + "\\");
    }
    EXPECT_EQ(before.handles, ProcessCensus::Take().handles);
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
