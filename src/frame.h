#pragma once

#include <windows.h>

// Size of every message the library composes, terminator included.
constexpr DWORD kMessageSize = 1024;

// Writes the system's text for code (line break included) into buffer, cut to
// capacity - 1 bytes and terminated; an empty string when the system has none.
char* GetSystemErrorText(DWORD code, char* buffer, DWORD capacity);

// The same in UTF-16, for the wide exports; writes nothing when buffer is null or
// capacity is 0.
void GetSystemErrorTextW(DWORD code, wchar_t* buffer, DWORD capacity);

// Shows "Operation failed" with code and its system text in the set-up warning box;
// ReportFailureW in the wide box, for the wide exports.
void ReportFailure(DWORD code);
void ReportFailureW(DWORD code);

// Copies at most capacity - 1 bytes of text into buffer and terminates it; writes
// nothing when buffer is null or capacity is 0.
void CopyTruncated(const char* text, char* buffer, DWORD capacity);

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
