#pragma once

#include <windows.h>

// The options that a host's command takes before its command line, each /NAME or
// /NAME=VALUE, read in one place for every host; each host accepts its own set.
constexpr DWORD kOptionTimeout = 1;    // /TIMEOUT=MS: the limit, after which the tree is ended
constexpr DWORD kOptionWaitTree = 2;   // /WAITTREE: wait for every process of the tree
constexpr DWORD kOptionProgress = 4;   // /PROGRESS: show the command's percentage
constexpr DWORD kOptionCancel = 8;     // /CANCEL or /CANCEL=QUESTION: offer a Cancel that asks first
constexpr DWORD kOptionSuccess = 16;   // /SUCCESS=0,3010: the exit codes that count as success
constexpr DWORD kOptionHide = 32;      // /HIDE: keep the command line and its output out of the log
constexpr DWORD kOptionFolder = 64;    // /DIR=FOLDER: the working folder

struct CommandOptions {
    static constexpr DWORD kMostSuccessCodes = 16;

    DWORD timeoutMs = 0;
    DWORD flags = 0;  // TARVO_RUN_WAIT_FOR_TREE
    bool progress = false;
    bool cancel = false;
    bool hide = false;
    const wchar_t* question = nullptr;  // /CANCEL='s text, in the option read
    const wchar_t* folder = nullptr;    // /DIR='s folder, in the option read
    DWORD successCodes[kMostSuccessCodes] = {0};
    DWORD successCount = 1;

    bool Succeeded(DWORD exitCode) const;
};

// What reading an option found.
enum class OptionRead {
    Taken,
    Unknown,   // not one of the host's
    BadValue,  // one of the host's, with a value it cannot take
};

// Reads one option, text from its / to its end, into options when it is one of
// accepted (kOption... bits). Values that options keep point into text.
OptionRead ReadOption(const wchar_t* text, DWORD accepted, CommandOptions& options);

// Whether text is a whole decimal number in range.
bool ReadNumber(const wchar_t* text, DWORD& number);
