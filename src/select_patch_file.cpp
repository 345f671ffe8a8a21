#include "tarvo_setup.h"

#include <windows.h>
#include <commdlg.h>

int __stdcall SelectPatchFile(int* result, char* path)
{
    int chosen = 0;
    if (path) {
        OPENFILENAMEA dialog = {};
        // The record's original form, which every version of the dialog accepts.
        dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
        dialog.lpstrFilter = "Patch Files (*.z)\0*.z\0All Files (*.*)\0*.*\0";
        dialog.lpstrFile = path;
        dialog.nMaxFile = 255;
        dialog.lpstrTitle = "Please choose a Patch File";
        dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_LONGNAMES;
        chosen = GetOpenFileNameA(&dialog);
    }
    if (result)
        *result = chosen;
    return chosen;
}
