// The commands that NSIS installers call as TarvoSetup::Run, RunToStack, RunToLog,
// Start, Wait, WaitToStack, WaitToLog and Stop, in NSIS's plug-in convention: the installer's window, its string size, its
// variables, its stack and its extra parameters, with every string in the
// installer's own width.
#include <windows.h>
#include <commctrl.h>

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "frame.h"
#include "line_decoder.h"
#include "run_command.h"
#include "start_command.h"

namespace {

// One string on the installer's stack: string size characters of its width.
struct StackItem {
    StackItem* next;
    char text[1];
};

struct ExecFlags {
    int autoclose;
    int allUserVar;
    int execError;
    int abort;
    int execReboot;
    int rebootCalled;
    int curInstType;
    int pluginApiVersion;
    int silent;
    int instDirError;
    int rtl;
    int errorLevel;
    int alterRegView;
    int statusUpdate;  // SetDetailsPrint's: 2 keeps lines out of the list, 4 out of the status text
};

enum { kUnloadMessage = 0 };  // the last message: the installer frees its plug-ins next
typedef UINT_PTR(__cdecl* PluginCallback)(int message);
constexpr int kPluginApi1 = 0x00010000;  // the first version that takes a plug-in callback

struct ExtraParameters {
    ExecFlags* execFlags;
    int(__stdcall* executeCodeSegment)(int, HWND);
    void(__stdcall* validateFilename)(void*);
    int(__stdcall* registerPluginCallback)(HMODULE, PluginCallback);
};

constexpr int kCommandLineVariable = 20;  // $CMDLINE
constexpr int kOutDirVariable = 22;       // $OUTDIR
constexpr int kDetailsListId = 1016;      // the install page's list and the text above it
constexpr int kStatusTextId = 1006;
constexpr int kNoList = 2;
constexpr int kNoStatusText = 4;

// The installer's stack and variables, read and written in its own width.
class Installer {
public:
    Installer(int stringSize, void* variables, StackItem** stack)
        : stringSize_(stringSize > 1 ? stringSize : 1), variables_(static_cast<char*>(variables)), stack_(stack),
          unicode_(IsUnicode())
    {
    }

    DWORD StringSize() const { return static_cast<DWORD>(stringSize_); }

    // Pops the top string into text (string size units); false when the stack is empty.
    bool Pop(wchar_t* text)
    {
        StackItem* item = *stack_;
        if (!item)
            return false;
        *stack_ = item->next;
        Widen(item->text, text);
        GlobalFree(item);
        return true;
    }

    // Pushes text, cut between characters to string size - 1 characters of the
    // installer's width. Nothing is pushed when the memory for it is lacking, as with
    // NSIS's own Push.
    void Push(const wchar_t* text)
    {
        auto* item = static_cast<StackItem*>(GlobalAlloc(GPTR, offsetof(StackItem, text) + Bytes(stringSize_)));
        if (!item)
            return;
        if (unicode_)
            CopyUnicode(text, reinterpret_cast<wchar_t*>(item->text));
        else
            CopyAnsi(text, item->text);
        item->next = *stack_;
        *stack_ = item;
    }

    void PushNumber(int number)
    {
        wchar_t text[16];
        _snwprintf(text, 16, L"%d", number);
        text[15] = L'\0';
        Push(text);
    }

    // Variable index ($0 is 0) into text (string size units); empty without variables.
    void Variable(int index, wchar_t* text) const
    {
        if (variables_)
            Widen(variables_ + Bytes(index * stringSize_), text);
        else
            text[0] = L'\0';
    }

private:
    // NSIS tells a plug-in nothing of its width. Every string on its stack has room
    // for string size characters, so the size of the top one tells. With the stack
    // empty, $CMDLINE's place in an ANSI installer's variables does: there an ANSI
    // installer holds its command line's ANSI bytes, and a Unicode one the UTF-16 of
    // $R0, whose zero bytes never match them.
    bool IsUnicode() const
    {
#ifdef _WIN64
        return true;  // amd64 installers are Unicode only
#else
        if (*stack_)
            return GlobalSize(*stack_) >= 2 * static_cast<SIZE_T>(stringSize_);
        if (!variables_)
            return false;
        const char* own = GetCommandLineA();
        return strncmp(variables_ + kCommandLineVariable * stringSize_, own, strnlen(own, 4)) != 0;
#endif
    }

    size_t Bytes(int characters) const { return static_cast<size_t>(characters) * (unicode_ ? 2 : 1); }

    void Widen(const char* from, wchar_t* text) const
    {
        if (unicode_)
            lstrcpynW(text, reinterpret_cast<const wchar_t*>(from), stringSize_);
        else
            text[MultiByteToWideChar(CP_ACP, 0, from, static_cast<int>(strnlen(from, stringSize_ - 1)), text,
                                     stringSize_ - 1)] = L'\0';
    }

    void CopyUnicode(const wchar_t* text, wchar_t* to) const
    {
        size_t units = wcsnlen(text, stringSize_ - 1);
        if (units == static_cast<size_t>(stringSize_ - 1) && units > 0 && IS_HIGH_SURROGATE(text[units - 1]))
            --units;
        wmemcpy(to, text, units);
        to[units] = L'\0';
    }

    // The longest start of text whose ANSI bytes fit; a double-byte character is
    // never halved.
    void CopyAnsi(const wchar_t* text, char* to) const
    {
        const int room = stringSize_ - 1;
        int fits = 0, over = static_cast<int>(wcslen(text)) + 1;
        while (over - fits > 1) {
            const int middle = fits + (over - fits) / 2;
            if (WideCharToMultiByte(CP_ACP, 0, text, middle, nullptr, 0, nullptr, nullptr) <= room)
                fits = middle;
            else
                over = middle;
        }
        const int bytes = WideCharToMultiByte(CP_ACP, 0, text, fits, to, room, nullptr, nullptr);
        to[bytes] = '\0';
    }

    const int stringSize_;
    char* const variables_;
    StackItem** const stack_;
    const bool unicode_;
};

// The install page's details: lines go into its list and the last one into the
// status text above it, as DetailPrint puts them there, within what SetDetailsPrint
// allows. A line that a bare CR ended (a progress state) is replaced by the line
// after it. The view is brought up to date at each pause in the output, not at each
// line: every message crosses to the installer's window thread.
class Details {
public:
    Details(HWND parent, const ExtraParameters* extra)
    {
        const HWND page = parent ? FindWindowExW(parent, nullptr, L"#32770", nullptr) : nullptr;
        const int flags = extra && extra->execFlags ? extra->execFlags->statusUpdate : 0;
        if (page && !(flags & kNoList))
            list_ = GetDlgItem(page, kDetailsListId);
        if (page && !(flags & kNoStatusText))
            status_ = GetDlgItem(page, kStatusTextId);
    }

    void Add(const wchar_t* line, DWORD length)
    {
        const bool state = length > 0 && line[length - 1] == L'\r';
        const DWORD shown = length - (state ? 1 : 0);
        const DWORD kept = shown < kLastRoom ? shown : kLastRoom - 1;
        wmemcpy(lastText_, line, kept);
        lastText_[kept] = L'\0';
        if (list_) {
            // Painting the list for each line would cost far more than the line: it
            // is painted when the lines are shown.
            if (!pending_)
                SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.pszText = lastText_;
            if (replaceable_ >= 0) {
                item.iItem = replaceable_;
                SendMessageW(list_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            } else {
                item.iItem = INT_MAX;  // appended
                shown_ = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
            }
            replaceable_ = state ? shown_ : -1;
        }
        pending_ = true;
        // Output that never pauses still shows now and then.
        if (GetTickCount() - shownAt_ >= kLongestUnshown)
            Show();
    }

    void Show()
    {
        shownAt_ = GetTickCount();
        if (!pending_)
            return;
        pending_ = false;
        if (list_) {
            SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list_, nullptr, FALSE);
        }
        if (list_ && shown_ >= 0)
            SendMessageW(list_, LVM_ENSUREVISIBLE, shown_, FALSE);
        if (status_)
            SetWindowTextW(status_, lastText_);
    }

    static int __stdcall OnLine(const wchar_t* line, unsigned long length, void* context)
    {
        static_cast<Details*>(context)->Add(line, length);
        return 0;
    }

    static void OnPause(void* context) { static_cast<Details*>(context)->Show(); }

private:
    static constexpr DWORD kLastRoom = LineDecoder::kLinePiece + 1;
    static constexpr DWORD kLongestUnshown = 100;  // ms

    HWND list_ = nullptr;
    HWND status_ = nullptr;
    int shown_ = -1;        // the list's index of the last line
    int replaceable_ = -1;  // a state's index, which the next line takes
    bool pending_ = false;
    DWORD shownAt_ = GetTickCount();
    wchar_t lastText_[kLastRoom];
};

enum class Delivery { Result, Stack, Log };

// Whether text is a number, all digits and in range.
bool ReadNumber(const wchar_t* text, DWORD& number)
{
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long value = wcstoul(text, &end, 10);
    if (!iswdigit(text[0]) || *end != L'\0' || errno == ERANGE)
        return false;
    number = value;
    return true;
}

// Options, then the command line, all taken from the stack even when one is wrong.
// 0, or why the call cannot run, written to reason.
DWORD ReadArguments(Installer& installer, const wchar_t* command, wchar_t* commandLine, DWORD& timeoutMs,
                    DWORD& flags, wchar_t* reason)
{
    const DWORD size = installer.StringSize();
    DWORD result = 0;
    bool popped;
    while ((popped = installer.Pop(commandLine)) && commandLine[0] == L'/') {
        if (_wcsnicmp(commandLine, L"/TIMEOUT=", 9) == 0 && ReadNumber(commandLine + 9, timeoutMs))
            continue;
        if (_wcsicmp(commandLine, L"/WAITTREE") == 0) {
            flags |= TARVO_RUN_WAIT_FOR_TREE;
            continue;
        }
        if (result == 0) {
            _snwprintf(reason, size, L"TarvoSetup::%ls: unknown option %ls", command, commandLine);
            result = ERROR_INVALID_PARAMETER;
        }
    }
    if (result == 0 && (!popped || commandLine[0] == L'\0')) {
        _snwprintf(reason, size, L"TarvoSetup::%ls: no command line", command);
        result = ERROR_INVALID_PARAMETER;
    }
    reason[size - 1] = L'\0';
    return result;
}

// The reason's text without its line break, for the details list.
void AddReason(Details& details, const wchar_t* reason)
{
    DWORD length = static_cast<DWORD>(wcslen(reason));
    while (length > 0 && (reason[length - 1] == L'\r' || reason[length - 1] == L'\n'))
        --length;
    details.Add(reason, length);
    details.Show();
}

// Pops a run's number into number; 0, or why the call cannot go on, written to reason.
DWORD ReadRunNumber(Installer& installer, const wchar_t* command, wchar_t* text, DWORD& number, wchar_t* reason)
{
    const DWORD size = installer.StringSize();
    if (installer.Pop(text) && ReadNumber(text, number))
        return 0;
    _snwprintf(reason, size, L"TarvoSetup::%ls: no run number", command);
    reason[size - 1] = L'\0';
    return ERROR_INVALID_PARAMETER;
}

// NSIS keeps a plug-in that registers a callback loaded until the installer ends, and
// tells it first: every run still going is ended then, so that NSIS frees the DLL
// and deletes its file as it does without runs.
extern "C" IMAGE_DOS_HEADER __ImageBase;

UINT_PTR __cdecl OnInstallerMessage(int message)
{
    if (message == kUnloadMessage)
        CloseAllCommands();
    return 0;
}

void CloseRunsAtUnload(const ExtraParameters* extra)
{
    if (extra && extra->execFlags && extra->execFlags->pluginApiVersion >= kPluginApi1)
        extra->registerPluginCallback(reinterpret_cast<HMODULE>(&__ImageBase), OnInstallerMessage);
}

enum class Action { Run, Start, Wait };

// The strings a command works with, and the details, on the heap: an installer's
// strings may be long, and the stack it lends small.
struct Workspace {
    Workspace(DWORD size, HWND parent, const ExtraParameters* extra)
        : strings(static_cast<wchar_t*>(malloc(3 * size * sizeof(wchar_t)))), details(MakeOnHeap<Details>(parent, extra))
    {
    }

    const std::unique_ptr<wchar_t, FreeDeleter> strings;
    const std::unique_ptr<Details, HeapDeleter<Details>> details;  // a line's worth of text
};

void CallFromInstaller(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra,
                       const wchar_t* command, Action action, Delivery delivery)
{
    if (!stack)
        return;
    Installer installer(stringSize, variables, stack);
    const DWORD size = installer.StringSize();
    const Workspace workspace(size, parent, extra);
    if (!workspace.strings || !workspace.details) {
        installer.Push(L"error");  // no room even for the reason
        return;
    }
    Details& details = *workspace.details;
    wchar_t* const commandLine = workspace.strings.get();
    wchar_t* const folder = commandLine + size;
    wchar_t* const output = folder + size;
    output[0] = L'\0';

    const bool log = delivery == Delivery::Log;
    const TarvoLineHandler onLine = log ? Details::OnLine : nullptr;
    const OutputPause onPause = log ? Details::OnPause : nullptr;
    DWORD timeoutMs = 0, flags = 0, number = 0;
    unsigned long exitCode = 0;
    unsigned long result = action == Action::Wait ? ReadRunNumber(installer, command, commandLine, number, output)
                                                  : ReadArguments(installer, command, commandLine, timeoutMs, flags, output);
    if (result == 0 && action == Action::Wait) {
        // The output is kept whatever the delivery: a run that fails leaves its reason there.
        result = WaitCommandPausing(number, INFINITE, onLine, onPause, &details, output, size, &exitCode);
        CloseCommand(number);
    } else if (result == 0) {
        installer.Variable(kOutDirVariable, folder);
        if (action == Action::Start) {
            CloseRunsAtUnload(extra);
            result = StartCommand(commandLine, folder, timeoutMs, TARVO_CODE_PAGE_DETECT, flags, output, size,
                                  &number);
        } else {
            result = RunCommandPausing(commandLine, folder, timeoutMs, TARVO_CODE_PAGE_DETECT, flags, onLine,
                                       onPause, &details, output, size, &exitCode);
        }
    }
    details.Show();
    const bool ran = result == 0 || result == TARVO_RUN_OUTPUT_CUT;
    if (!ran && result != TARVO_RUN_TIMED_OUT)
        AddReason(details, output);
    if (action == Action::Start)
        ran ? installer.PushNumber(static_cast<int>(number)) : installer.Push(L"error");
    else if (delivery == Delivery::Stack)
        installer.Push(output);
    if (action == Action::Start)
        return;
    if (ran)
        installer.PushNumber(static_cast<int>(exitCode));
    else
        installer.Push(result == TARVO_RUN_TIMED_OUT ? L"timeout" : L"error");
}

}  // namespace

// NSIS calls plug-in commands with the C calling convention.
extern "C" {

void __cdecl Run(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    CallFromInstaller(parent, stringSize, variables, stack, extra, L"Run", Action::Run, Delivery::Result);
}

void __cdecl RunToStack(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    CallFromInstaller(parent, stringSize, variables, stack, extra, L"RunToStack", Action::Run, Delivery::Stack);
}

void __cdecl RunToLog(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    CallFromInstaller(parent, stringSize, variables, stack, extra, L"RunToLog", Action::Run, Delivery::Log);
}

void __cdecl Start(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    CallFromInstaller(parent, stringSize, variables, stack, extra, L"Start", Action::Start, Delivery::Result);
}

void __cdecl Wait(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    CallFromInstaller(parent, stringSize, variables, stack, extra, L"Wait", Action::Wait, Delivery::Result);
}

void __cdecl WaitToStack(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    CallFromInstaller(parent, stringSize, variables, stack, extra, L"WaitToStack", Action::Wait, Delivery::Stack);
}

void __cdecl WaitToLog(HWND parent, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    CallFromInstaller(parent, stringSize, variables, stack, extra, L"WaitToLog", Action::Wait, Delivery::Log);
}

// Ends the run's tree; its Wait then pushes "error". A number that is no open run's
// sets the error flag.
void __cdecl Stop(HWND, int stringSize, void* variables, StackItem** stack, ExtraParameters* extra)
{
    if (!stack)
        return;
    Installer installer(stringSize, variables, stack);
    const std::unique_ptr<wchar_t, FreeDeleter> text(
        static_cast<wchar_t*>(malloc(installer.StringSize() * sizeof(wchar_t))));
    DWORD number = 0;
    const bool popped = text && installer.Pop(text.get());
    if ((!popped || !ReadNumber(text.get(), number) || StopCommand(number) != 0) && extra && extra->execFlags)
        extra->execFlags->execError = 1;
}

}  // extern "C"
