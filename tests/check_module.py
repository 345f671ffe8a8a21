#!/usr/bin/env python3
"""Reads a built TarvoSetup.DLL (x86 or x64) back and checks what hosts and tools see of it:
exports, imports, flags, the version record and the icon.
   check_module.py DLL x86|x64"""
import sys
import unittest

import pefile

DLL_PATH = None
ARCH = None
# Per architecture: the machine type in the file header, and the size it stays under.
MACHINES = {"x86": (0x14C, 40 * 1024), "x64": (0x8664, 48 * 1024)}
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
US_ENGLISH = 1033


class Module(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(DLL_PATH)

    def test_is_a_dll_for_its_machine(self):
        machine = MACHINES[ARCH][0]
        self.assertEqual(machine, self.pe.FILE_HEADER.Machine, f"machine type for {ARCH}: {machine:#x}")
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x2000, "IMAGE_FILE_DLL not set")

    def test_stays_small(self):
        self.assertLess(len(self.pe.__data__), MACHINES[ARCH][1])

    def test_aslr_and_nx(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(flags & 0x40, f"DYNAMIC_BASE missing in {flags:#x}")
        self.assertTrue(flags & 0x100, f"NX_COMPAT missing in {flags:#x}")

    def test_exports_by_name_and_fixed_ordinal(self):
        directory = self.pe.DIRECTORY_ENTRY_EXPORT
        self.assertEqual(b"TarvoSetup.DLL", directory.name)
        self.assertEqual(2, directory.struct.Base)
        self.assertEqual(23, directory.struct.NumberOfFunctions, "ordinals 2 to 24")
        named = {s.name.decode(): s.ordinal for s in directory.symbols if s.name}
        self.assertEqual({"SelectPatchFile": 2, "Execute": 3, "ShowMsg": 7, "ShowMsgW": 8, "SelectPatchFileW": 9,
                          "RunCommand": 10, "Run": 11, "RunToStack": 12, "RunToLog": 13, "StartCommand": 14,
                          "WaitCommand": 15, "StopCommand": 16, "CloseCommand": 17, "Start": 18, "Wait": 19,
                          "WaitToStack": 20, "WaitToLog": 21, "Stop": 22, "ReadPercentage": 23,
                          "MsiRunCommand": 24}, named)
        text = next(s for s in self.pe.sections if s.Name.rstrip(b"\0") == b".text")
        for symbol in directory.symbols:
            if symbol.ordinal in named.values():
                self.assertIsNone(symbol.forwarder, f"ordinal {symbol.ordinal} is forwarded")
                self.assertTrue(text.contains_rva(symbol.address), f"ordinal {symbol.ordinal} is not code")
            else:
                self.assertEqual(0, symbol.address, f"ordinal {symbol.ordinal} should be unassigned")

    def test_imports_only_system_dlls(self):
        names = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual({"kernel32.dll", "user32.dll", "comdlg32.dll", "msvcrt.dll"}, names)

    def test_version_fixed_fields(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((0x00030000, 0x00010001), (fixed.FileVersionMS, fixed.FileVersionLS))
        self.assertEqual((0x00060000, 0x00010000), (fixed.ProductVersionMS, fixed.ProductVersionLS))
        self.assertEqual(0x3F, fixed.FileFlagsMask)
        self.assertEqual(0, fixed.FileFlags)
        self.assertEqual(0x4, fixed.FileOS)
        self.assertEqual(1, fixed.FileType)
        self.assertEqual(0, fixed.FileSubtype)
        self.assertEqual((0, 0), (fixed.FileDateMS, fixed.FileDateLS))

    def test_version_strings_in_order(self):
        tables = [t for info in self.pe.FileInfo[0] if info.Key == b"StringFileInfo" for t in info.StringTable]
        self.assertEqual([b"040904b0"], [t.LangID for t in tables])
        entries = list(tables[0].entries.items())
        self.assertEqual([b"CompanyName", b"FileDescription", b"FileVersion", b"InternalName", b"LegalCopyright",
                          b"LegalTrademarks", b"OriginalFilename", b"ProductName", b"ProductVersion"],
                         [key for key, _ in entries])
        values = dict(entries)
        self.assertEqual(b"Tarvo Setup Utility DLL", values[b"FileDescription"])
        self.assertEqual(b"3, 0, 1, 1", values[b"FileVersion"])
        self.assertEqual(b"TarvoSetup", values[b"InternalName"])
        self.assertEqual(b"TarvoSetup.DLL", values[b"OriginalFilename"])
        for key in (b"CompanyName", b"LegalCopyright", b"LegalTrademarks", b"ProductName", b"ProductVersion"):
            self.assertTrue(values[key], f"{key} is empty")

    def test_version_translation(self):
        var = [v for info in self.pe.FileInfo[0] if info.Key == b"VarFileInfo" for v in info.Var]
        self.assertEqual([{b"Translation": "0x0409 0x04b0"}], [v.entry for v in var])

    def resources(self):
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    yield kind.id, name.id, language

    def test_every_resource_is_us_english(self):
        found = [(kind, name, language.id) for kind, name, language in self.resources()]
        self.assertTrue(found)
        for kind, name, language in found:
            self.assertEqual(US_ENGLISH, language, f"resource type {kind} id {name}")

    def test_icon_group_101_has_2_and_16_colour_images(self):
        groups = {name: language for kind, name, language in self.resources() if kind == RT_GROUP_ICON}
        self.assertEqual([101], list(groups))
        data = self.pe.get_data(groups[101].data.struct.OffsetToData, groups[101].data.struct.Size)
        reserved, kind, count = (int.from_bytes(data[i:i + 2], "little") for i in (0, 2, 4))
        self.assertEqual((0, 1, 2), (reserved, kind, count))
        images = []
        for i in range(count):
            entry = data[6 + 14 * i: 6 + 14 * (i + 1)]
            width, height, colours = entry[0], entry[1], entry[2]
            bits = int.from_bytes(entry[6:8], "little")
            icon_id = int.from_bytes(entry[12:14], "little")
            images.append((width, height, colours, bits, icon_id))
        self.assertEqual([(32, 32, 2, 1, 1), (32, 32, 16, 4, 2)], images)
        icons = sorted(name for kind, name, _ in self.resources() if kind == RT_ICON)
        self.assertEqual([1, 2], icons)


if __name__ == "__main__":
    DLL_PATH = sys.argv.pop(1)
    ARCH = sys.argv.pop(1)
    unittest.main(verbosity=2)
