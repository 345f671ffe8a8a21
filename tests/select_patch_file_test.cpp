// SelectPatchFile with GetOpenFileNameA recorded in the DLL's import table.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <string.h>
#include <wchar.h>

#include <string>

#include "import_patch.h"
#include "record_fields.h"
#include "tarvo_library.h"

namespace {

// The record's size without its Windows 2000 fields, as the dialog of every Windows
// version takes it, written out for each width.
constexpr DWORD kRecordSize = sizeof(void*) == 8 ? 136 : 76;

struct DialogCall {
    int calls = 0;
    OPENFILENAMEA record = {};  // as it came in, before the dialog could touch it
    std::string filter;         // every byte up to and including the closing double zero
    std::string title;
    BOOL answer = FALSE;
    const char* chosenPath = nullptr;
} g_dialog;

// Notes a dialog call of either character set: the record's original form, its
// whole filter and its title.
template <typename Call, typename Record>
void Note(Call& call, const Record* record)
{
    ++call.calls;
    memcpy(&call.record, record, CDSIZEOF_STRUCT(Record, lpTemplateName));
    auto end = record->lpstrFilter;
    while (end[0] || end[1])
        ++end;
    call.filter.assign(record->lpstrFilter, end + 2);
    call.title = record->lpstrTitle;
}

BOOL WINAPI RecordingGetOpenFileName(LPOPENFILENAMEA record)
{
    Note(g_dialog, record);
    if (g_dialog.chosenPath)
        strcpy(record->lpstrFile, g_dialog.chosenPath);
    return g_dialog.answer;
}

struct WideDialogCall {
    int calls = 0;
    OPENFILENAMEW record = {};
    std::wstring filter;
    std::wstring title;
} g_wideDialog;

// Answers as a user who chose a file with a path longer than the ANSI export's 255.
BOOL WINAPI RecordingGetOpenFileNameW(LPOPENFILENAMEW record)
{
    Note(g_wideDialog, record);
    const std::wstring chosen = L"C:\\Ωμέγα\\" + std::wstring(300, L'p') + L".z";
    if (record->nMaxFile <= chosen.size())
        return FALSE;
    wcscpy(record->lpstrFile, chosen.c_str());
    return TRUE;
}

class SelectPatchFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(patch_.Applied());
        g_dialog = {};
    }

    ImportPatch patch_{TarvoLibrary::Get().module, "COMDLG32.dll", "GetOpenFileNameA",
                       reinterpret_cast<void*>(RecordingGetOpenFileName)};
};

TEST_F(SelectPatchFileTest, FillsOnlyTheDocumentedFields)
{
    char path[255] = "start.z";
    int result = 42;
    TarvoLibrary::Get().selectPatchFile(&result, path);
    ASSERT_EQ(1, g_dialog.calls);

    // The documented fields; every other field of the record's original form zero.
    const OPENFILENAMEA& actual = g_dialog.record;
    OPENFILENAMEA expected = {};
    expected.lStructSize = kRecordSize;
    expected.lpstrFilter = actual.lpstrFilter;
    expected.lpstrFile = path;
    expected.nMaxFile = 255;
    expected.lpstrTitle = actual.lpstrTitle;
    expected.Flags = 0x201004;
    EXPECT_FIELD(lStructSize); EXPECT_FIELD(hwndOwner); EXPECT_FIELD(hInstance); EXPECT_FIELD(lpstrFilter);
    EXPECT_FIELD(lpstrCustomFilter); EXPECT_FIELD(nMaxCustFilter); EXPECT_FIELD(nFilterIndex);
    EXPECT_FIELD(lpstrFile); EXPECT_FIELD(nMaxFile); EXPECT_FIELD(lpstrFileTitle);
    EXPECT_FIELD(nMaxFileTitle); EXPECT_FIELD(lpstrInitialDir); EXPECT_FIELD(lpstrTitle);
    EXPECT_FIELD(Flags); EXPECT_FIELD(nFileOffset); EXPECT_FIELD(nFileExtension); EXPECT_FIELD(lpstrDefExt);
    EXPECT_FIELD(lCustData); EXPECT_FIELD(lpfnHook); EXPECT_FIELD(lpTemplateName);
    const char filter[] = "Patch Files (*.z)\0*.z\0All Files (*.*)\0*.*\0";  // with its closing zero
    EXPECT_EQ(std::string(filter, sizeof filter), g_dialog.filter);
    EXPECT_EQ("Please choose a Patch File", g_dialog.title);
}

TEST_F(SelectPatchFileTest, ReturnsAndStoresTheDialogsResult)
{
    char path[255] = "";
    int result = 42;
    g_dialog.answer = TRUE;
    g_dialog.chosenPath = "C:\\patches\\fix.z";
    EXPECT_EQ(1, TarvoLibrary::Get().selectPatchFile(&result, path));
    EXPECT_EQ(1, result);
    EXPECT_STREQ("C:\\patches\\fix.z", path);

    g_dialog.answer = FALSE;
    g_dialog.chosenPath = nullptr;
    EXPECT_EQ(0, TarvoLibrary::Get().selectPatchFile(&result, path));
    EXPECT_EQ(0, result);
}

TEST_F(SelectPatchFileTest, NullPointersDoNotCrash)
{
    char path[255] = "";
    g_dialog.answer = TRUE;
    EXPECT_EQ(1, TarvoLibrary::Get().selectPatchFile(nullptr, path)) << "null result: the dialog still runs";
    EXPECT_EQ(1, g_dialog.calls);

    int result = 42;
    EXPECT_EQ(0, TarvoLibrary::Get().selectPatchFile(&result, nullptr));
    EXPECT_EQ(0, result);
    EXPECT_EQ(1, g_dialog.calls) << "no dialog without a path buffer";
    EXPECT_EQ(0, TarvoLibrary::Get().selectPatchFile(nullptr, nullptr));
}

TEST_F(SelectPatchFileTest, WideTwinUsesTheCallersCapacity)
{
    ImportPatch wide(TarvoLibrary::Get().module, "COMDLG32.dll", "GetOpenFileNameW",
                     reinterpret_cast<void*>(RecordingGetOpenFileNameW));
    ASSERT_TRUE(wide.Applied());
    const auto select = TarvoLibrary::Get().selectPatchFileW;
    std::wstring path(32768, L'#');
    for (DWORD capacity : {0u, 1u}) {
        g_wideDialog = {};
        int result = 42;
        EXPECT_EQ(0, select(&result, &path[0], capacity)) << "capacity " << capacity;
        EXPECT_EQ(0, result) << "capacity " << capacity;
        EXPECT_EQ(0, g_wideDialog.calls) << "no dialog for capacity " << capacity;
    }
    int result = 42;
    EXPECT_EQ(0, select(&result, nullptr, 32768));
    EXPECT_EQ(0, g_wideDialog.calls) << "no dialog without a path buffer";

    // Room for one character: the dialog runs, and fails to hand back a longer path.
    path[0] = L'\0';
    EXPECT_EQ(0, select(&result, &path[0], 2));
    EXPECT_EQ(1, g_wideDialog.calls);
    EXPECT_EQ(2u, g_wideDialog.record.nMaxFile);

    g_wideDialog = {};
    EXPECT_EQ(1, select(&result, &path[0], 32768));
    EXPECT_EQ(1, result);
    EXPECT_EQ(L"C:\\Ωμέγα\\" + std::wstring(300, L'p') + L".z", path.c_str());
    const OPENFILENAMEW& actual = g_wideDialog.record;
    OPENFILENAMEW expected = {};
    expected.lStructSize = kRecordSize;
    expected.lpstrFilter = actual.lpstrFilter;
    expected.lpstrFile = &path[0];
    expected.nMaxFile = 32768;
    expected.lpstrTitle = actual.lpstrTitle;
    expected.Flags = 0x201004;
    EXPECT_FIELD(lStructSize); EXPECT_FIELD(hwndOwner); EXPECT_FIELD(lpstrCustomFilter); EXPECT_FIELD(nFilterIndex);
    EXPECT_FIELD(lpstrFile); EXPECT_FIELD(nMaxFile); EXPECT_FIELD(lpstrFileTitle); EXPECT_FIELD(lpstrInitialDir);
    EXPECT_FIELD(Flags); EXPECT_FIELD(lpstrDefExt); EXPECT_FIELD(lpfnHook); EXPECT_FIELD(lpTemplateName);
    const wchar_t filter[] = L"Patch Files (*.z)\0*.z\0All Files (*.*)\0*.*\0";
    EXPECT_TRUE(std::wstring(filter, sizeof filter / sizeof filter[0]) == g_wideDialog.filter) << "the filter";
    EXPECT_TRUE(L"Please choose a Patch File" == g_wideDialog.title) << "the title";
}

}  // namespace
