#pragma once

#include <windows.h>

// Size of every message the library composes, terminator included.
constexpr DWORD kMessageSize = 1024;

// Writes the system's text for code (line break included) into buffer, cut to
// capacity - 1 bytes and terminated; an empty string when the system has none.
char* GetSystemErrorText(DWORD code, char* buffer, DWORD capacity);

// Shows "Operation failed" with code and its system text in the set-up warning box.
void ReportFailure(DWORD code);

// Copies at most capacity - 1 bytes of text into buffer and terminates it; writes
// nothing when buffer is null or capacity is 0.
void CopyTruncated(const char* text, char* buffer, DWORD capacity);
