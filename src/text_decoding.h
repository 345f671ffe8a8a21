#pragma once

#include <windows.h>

// Whether length bytes are valid UTF-8 (no length is).
bool IsUtf8(const char* bytes, DWORD length);

// Decodes length bytes (below 2 GiB) in codePage into text, which has room for
// length units; returns the units written, unterminated.
DWORD DecodeBytes(UINT codePage, const char* bytes, DWORD length, wchar_t* text);

// Decodes a text file's size bytes into text, which has room for size + 1 units, and
// terminates it: UTF-16LE or UTF-8 after their byte-order mark; otherwise UTF-8 where
// the bytes are valid UTF-8, else the ANSI code page. Bytes or units after the first
// zero are not text. Returns the units written.
DWORD DecodeText(const char* bytes, DWORD size, wchar_t* text);
