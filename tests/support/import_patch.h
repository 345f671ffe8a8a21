#pragma once

#include <windows.h>

#include <string.h>

// Swaps one entry of a module's import address table for the lifetime of the
// object, so that a test can watch or fail a system call the module makes
// without any change to the module's code.
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char* dllName, const char* functionName, const void* replacement)
    {
        slot_ = FindSlot(module, dllName, functionName);
        if (slot_) {
            original_ = reinterpret_cast<void*>(*slot_);
            Store(reinterpret_cast<ULONG_PTR>(replacement));
        }
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    ~ImportPatch()
    {
        if (slot_)
            Store(reinterpret_cast<ULONG_PTR>(original_));
    }

    bool Applied() const { return slot_ != nullptr; }

    // The function the module called before the patch.
    template <typename Function>
    Function Original() const
    {
        return reinterpret_cast<Function>(original_);
    }

private:
    static ULONG_PTR* FindSlot(HMODULE module, const char* dllName, const char* functionName)
    {
        auto base = reinterpret_cast<BYTE*>(module);
        auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (!directory.VirtualAddress)
            return nullptr;
        for (auto import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
             import->Name; ++import) {
            if (_stricmp(reinterpret_cast<char*>(base + import->Name), dllName) != 0)
                continue;
            auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
            auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (strcmp(reinterpret_cast<char*>(byName->Name), functionName) == 0)
                    return reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
            }
        }
        return nullptr;
    }

    void Store(ULONG_PTR value)
    {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }

    ULONG_PTR* slot_ = nullptr;
    void* original_ = nullptr;
};
