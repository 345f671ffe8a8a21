// SelectPatchFile with GetOpenFileNameA recorded in the DLL's import table.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <string.h>

#include <string>

#include "import_patch.h"
#include "record_fields.h"
#include "tarvo_library.h"

namespace {

struct DialogCall {
    int calls = 0;
    OPENFILENAMEA record = {};  // as it came in, before the dialog could touch it
    std::string filter;         // every byte up to and including the closing double zero
    std::string title;
    BOOL answer = FALSE;
    const char* chosenPath = nullptr;
} g_dialog;

BOOL WINAPI RecordingGetOpenFileName(LPOPENFILENAMEA record)
{
    ++g_dialog.calls;
    memcpy(&g_dialog.record, record, OPENFILENAME_SIZE_VERSION_400A);
    const char* end = record->lpstrFilter;
    while (end[0] || end[1])
        ++end;
    g_dialog.filter.assign(record->lpstrFilter, end + 2);
    g_dialog.title = record->lpstrTitle;
    if (g_dialog.chosenPath)
        strcpy(record->lpstrFile, g_dialog.chosenPath);
    return g_dialog.answer;
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
    const OPENFILENAMEA& record = g_dialog.record;
    OPENFILENAMEA expected = {};
    expected.lStructSize = 76;
    expected.lpstrFilter = record.lpstrFilter;
    expected.lpstrFile = path;
    expected.nMaxFile = 255;
    expected.lpstrTitle = record.lpstrTitle;
    expected.Flags = 0x201004;
    EXPECT_FIELD(expected, record, lStructSize);
    EXPECT_FIELD(expected, record, hwndOwner);
    EXPECT_FIELD(expected, record, hInstance);
    EXPECT_FIELD(expected, record, lpstrFilter);
    EXPECT_FIELD(expected, record, lpstrCustomFilter);
    EXPECT_FIELD(expected, record, nMaxCustFilter);
    EXPECT_FIELD(expected, record, nFilterIndex);
    EXPECT_FIELD(expected, record, lpstrFile);
    EXPECT_FIELD(expected, record, nMaxFile);
    EXPECT_FIELD(expected, record, lpstrFileTitle);
    EXPECT_FIELD(expected, record, nMaxFileTitle);
    EXPECT_FIELD(expected, record, lpstrInitialDir);
    EXPECT_FIELD(expected, record, lpstrTitle);
    EXPECT_FIELD(expected, record, Flags);
    EXPECT_FIELD(expected, record, nFileOffset);
    EXPECT_FIELD(expected, record, nFileExtension);
    EXPECT_FIELD(expected, record, lpstrDefExt);
    EXPECT_FIELD(expected, record, lCustData);
    EXPECT_FIELD(expected, record, lpfnHook);
    EXPECT_FIELD(expected, record, lpTemplateName);
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

}  // namespace
