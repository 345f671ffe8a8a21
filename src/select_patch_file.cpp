#include "tarvo_setup.h"

#include <windows.h>
#include <commdlg.h>

namespace {

// The dialog's record in its original form, which every version of the dialog
// accepts, in either character set.
template <typename Record, typename Char>
Record PatchFileDialog(Char* path, DWORD capacity, const Char* filter, const Char* title)
{
    Record dialog = {};
    dialog.lStructSize = CDSIZEOF_STRUCT(Record, lpTemplateName);
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = capacity;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_LONGNAMES;
    return dialog;
}

int Store(int* result, int chosen)
{
    if (result)
        *result = chosen;
    return chosen;
}

}  // namespace

int __stdcall SelectPatchFile(int* result, char* path)
{
    if (!path)
        return Store(result, 0);
    OPENFILENAMEA dialog = PatchFileDialog<OPENFILENAMEA>(
        path, 255, "Patch Files (*.z)\0*.z\0All Files (*.*)\0*.*\0", "Please choose a Patch File");
    return Store(result, GetOpenFileNameA(&dialog));
}

int __stdcall SelectPatchFileW(int* result, wchar_t* path, unsigned long capacity)
{
    // Room for at least one character and the zero, or no dialog.
    if (!path || capacity < 2)
        return Store(result, 0);
    OPENFILENAMEW dialog = PatchFileDialog<OPENFILENAMEW>(
        path, capacity, L"Patch Files (*.z)\0*.z\0All Files (*.*)\0*.*\0", L"Please choose a Patch File");
    return Store(result, GetOpenFileNameW(&dialog));
}
