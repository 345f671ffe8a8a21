// The commands that NSIS installers call as TarvoSetup::Run, RunToStack, RunToLog,
// Start, Wait, WaitToStack, WaitToLog and Stop, in NSIS's plug-in convention: the installer's window, its string size, its
// variables, its stack and its extra parameters, with every string in the
// installer's own width.
#include <windows.h>
#include <commctrl.h>

#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "command_options.h"
#include "frame.h"
#include "line_decoder.h"
#include "run_command.h"
#include "start_command.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this DLL's module

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
constexpr int kDetailsListId = 1016;      // the install page's list, the text above it and its bar
constexpr int kStatusTextId = 1006;
constexpr int kProgressBarId = 1004;
constexpr int kProgressScale = 30;        // NSIS's bar runs from 0 to 30000: 30 a tenth of a percent
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
        : page_(parent ? FindWindowExW(parent, nullptr, L"#32770", nullptr) : nullptr)
    {
        const int flags = extra && extra->execFlags ? extra->execFlags->statusUpdate : 0;
        if (page_ && !(flags & kNoList))
            list_ = GetDlgItem(page_, kDetailsListId);
        if (page_ && !(flags & kNoStatusText))
            status_ = GetDlgItem(page_, kStatusTextId);
    }
    Details(const Details&) = delete;
    Details& operator=(const Details&) = delete;
    // NSIS's bar is given back at the position it had.
    ~Details()
    {
        if (bar_)
            SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(barBefore_), 0);
    }

    // The install page: its list holds the details (absent outside the install page).
    bool OnInstallPage() const { return page_ && GetDlgItem(page_, kDetailsListId); }

    // The install page's bar shows the percentage of each line that has one, on
    // NSIS's own scale, for the command's duration.
    void ShowPercentage()
    {
        bar_ = page_ ? GetDlgItem(page_, kProgressBarId) : nullptr;
        if (bar_)
            barBefore_ = SendMessageW(bar_, PBM_GETPOS, 0, 0);
    }

    void Add(const wchar_t* line, DWORD length)
    {
        const unsigned long tenths = bar_ ? ReadPercentage(line, length) : TARVO_NO_PERCENTAGE;
        if (tenths != TARVO_NO_PERCENTAGE)
            percentage_ = tenths;
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
        if (bar_ && percentage_ != shownPercentage_) {
            shownPercentage_ = percentage_;
            SendMessageW(bar_, PBM_SETPOS, percentage_ * kProgressScale, 0);
        }
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

    const HWND page_;
    HWND list_ = nullptr;
    HWND status_ = nullptr;
    HWND bar_ = nullptr;
    LRESULT barBefore_ = 0;
    unsigned long percentage_ = TARVO_NO_PERCENTAGE;  // in tenths, as the last line that had one shows it
    unsigned long shownPercentage_ = TARVO_NO_PERCENTAGE;
    int shown_ = -1;        // the list's index of the last line
    int replaceable_ = -1;  // a state's index, which the next line takes
    bool pending_ = false;
    DWORD shownAt_ = GetTickCount();
    wchar_t lastText_[kLastRoom];
};

// A Cancel button in place of the install page's own, which NSIS keeps disabled
// while a section runs, for the time of a command. It is the calling thread's window
// (a section runs on a thread of its own), so its click reaches the wait's message
// pump, never NSIS: the question is asked in a box that the installer's window owns,
// and Yes ends the command's tree. NSIS's button is shown again as it was, and ours
// goes, before the command returns.
class CancelButton {
public:
    CancelButton(HWND window, const wchar_t* question) : window_(window), question_(question)
    {
        nsisButton_ = GetDlgItem(window_, IDCANCEL);
        if (!nsisButton_)
            return;
        RECT place;
        GetWindowRect(nsisButton_, &place);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
        const int width = place.right - place.left, height = place.bottom - place.top;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &CancelButton::HostProcedure;
        windowClass.hInstance = Module();
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        windowClass.lpszClassName = kClassName;
        RegisterClassW(&windowClass);  // or registered already
        host_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, place.left, place.top,
                                width, height, window_, nullptr, Module(), this);
        if (!host_)
            return;
        wchar_t text[64];
        GetWindowTextW(nsisButton_, text, 64);
        const HWND button = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, width,
                                            height, host_, reinterpret_cast<HMENU>(IDCANCEL), Module(), nullptr);
        SendMessageW(button, WM_SETFONT, static_cast<WPARAM>(SendMessageW(nsisButton_, WM_GETFONT, 0, 0)), FALSE);
        SetWindowPos(host_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        nsisWasVisible_ = IsWindowVisible(nsisButton_) != FALSE;
        ShowWindow(nsisButton_, SW_HIDE);
    }
    CancelButton(const CancelButton&) = delete;
    CancelButton& operator=(const CancelButton&) = delete;
    ~CancelButton()
    {
        if (!host_)
            return;
        DestroyWindow(host_);
        ShowWindow(nsisButton_, nsisWasVisible_ ? SW_SHOWNA : SW_HIDE);
        UnregisterClassW(kClassName, Module());
    }

    // The run that Yes ends.
    void Watch(DWORD run) { run_ = run; }
    bool Cancelled() const { return cancelled_; }

private:
    static constexpr const wchar_t* kClassName = L"TarvoSetupCancel";

    static HINSTANCE Module() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

    static LRESULT CALLBACK HostProcedure(HWND host, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(host, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* const self = reinterpret_cast<CancelButton*>(GetWindowLongPtrW(host, GWLP_USERDATA));
        if (self && message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            self->Ask();
            return 0;
        }
        return DefWindowProcW(host, message, wParam, lParam);
    }

    // The command goes on meanwhile, its limit too.
    void Ask()
    {
        if (asking_)
            return;
        asking_ = true;
        wchar_t caption[256];
        GetWindowTextW(window_, caption, 256);
        if (MessageBoxW(window_, question_, caption, MB_YESNO | MB_ICONQUESTION) == IDYES && StopCommand(run_) == 0)
            cancelled_ = true;
        asking_ = false;
    }

    const HWND window_;
    const wchar_t* const question_;
    HWND nsisButton_ = nullptr;
    bool nsisWasVisible_ = false;
    HWND host_ = nullptr;
    DWORD run_ = 0;
    bool asking_ = false;
    bool cancelled_ = false;
};

enum class Delivery { Result, Stack, Log };

enum class Action { Run, Start, Wait };

// What the options ask for, and the run waited for or the one Start started.
struct Options : CommandOptions {
    DWORD run = 0;
};

constexpr const wchar_t* kDefaultQuestion = L"Do you want to stop this step of the setup?";

// Options, then the command line (or the run's number), all taken from the stack even
// when one is wrong: what each command takes. 0, or why the call cannot run, written
// to reason. question has room for the text of /CANCEL=.
DWORD ReadArguments(Installer& installer, const wchar_t* command, Action action, Delivery delivery, wchar_t* text,
                    wchar_t* question, Options& options, wchar_t* reason)
{
    const DWORD size = installer.StringSize();
    const DWORD accepted = (action != Action::Wait ? kOptionTimeout | kOptionWaitTree : 0) |
                           (action != Action::Start ? kOptionCancel : 0) |
                           (action != Action::Start && delivery == Delivery::Log ? kOptionProgress : 0);
    options.question = kDefaultQuestion;
    DWORD result = 0;
    bool popped;
    while ((popped = installer.Pop(text)) && text[0] == L'/') {
        const wchar_t* const asked = options.question;
        if (ReadOption(text, accepted, options) == OptionRead::Taken) {
            // The next item is popped into the same text.
            if (options.question != asked)
                options.question = lstrcpynW(question, options.question, static_cast<int>(size));
            continue;
        }
        if (result == 0) {
            _snwprintf(reason, size, L"TarvoSetup::%ls: unknown option %ls", command, text);
            result = ERROR_INVALID_PARAMETER;
        }
    }
    if (result == 0 && (!popped || text[0] == L'\0')) {
        _snwprintf(reason, size, L"TarvoSetup::%ls: no command line", command);
        result = ERROR_INVALID_PARAMETER;
    }
    if (result == 0 && action == Action::Wait && !ReadNumber(text, options.run)) {
        _snwprintf(reason, size, L"TarvoSetup::%ls: no run number", command);
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

// NSIS keeps a plug-in that registers a callback loaded until the installer ends, and
// tells it first: every run still going is ended then, so that NSIS frees the DLL
// and deletes its file as it does without runs.
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

// Whether a Cancel button can be offered: on the install page of an installer with
// windows, from the thread that runs its sections, whose wait then handles the
// button's messages while the installer's window goes on.
bool CanOfferCancel(HWND parent, const ExtraParameters* extra, const Details& details)
{
    const bool silent = extra && extra->execFlags && extra->execFlags->silent;
    return parent && !silent && details.OnInstallPage() &&
           GetWindowThreadProcessId(parent, nullptr) != GetCurrentThreadId();
}

// The strings a command works with, and the details, on the heap: an installer's
// strings may be long, and the stack it lends small.
struct Workspace {
    Workspace(DWORD size, HWND parent, const ExtraParameters* extra)
        : strings(static_cast<wchar_t*>(malloc(4 * size * sizeof(wchar_t)))), details(MakeOnHeap<Details>(parent, extra))
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
    wchar_t* const commandLine = workspace.strings.get();  // or the run's number
    wchar_t* const folder = commandLine + size;
    wchar_t* const output = folder + size;
    wchar_t* const question = output + size;
    output[0] = L'\0';

    const bool log = delivery == Delivery::Log;
    const TarvoLineHandler onLine = log ? Details::OnLine : nullptr;
    const OutputPause onPause = log ? Details::OnPause : nullptr;
    Options options;
    unsigned long exitCode = 0;
    bool cancelled = false;
    unsigned long result = ReadArguments(installer, command, action, delivery, commandLine, question, options, output);
    if (result == 0 && action != Action::Wait) {
        installer.Variable(kOutDirVariable, folder);
        if (action == Action::Start)
            CloseRunsAtUnload(extra);
    }
    if (result == 0 && options.progress)
        details.ShowPercentage();
    const bool offerCancel = result == 0 && options.cancel && CanOfferCancel(parent, extra, details);
    if (result == 0 && (action != Action::Run || offerCancel)) {
        // A run of its own thread, which a Cancel click can end while this one waits.
        if (action != Action::Wait)
            result = StartCommand(commandLine, folder, options.timeoutMs, TARVO_CODE_PAGE_DETECT, options.flags,
                                  output, size, &options.run);
        if (result == 0 && action != Action::Start) {
            const std::unique_ptr<CancelButton, HeapDeleter<CancelButton>> cancel(
                offerCancel ? MakeOnHeap<CancelButton>(parent, options.question) : nullptr);
            if (cancel)
                cancel->Watch(options.run);
            // The output is kept whatever the delivery: a run that fails leaves its reason there.
            result = WaitCommandPausing(options.run, INFINITE, onLine, onPause, &details, output, size, &exitCode);
            cancelled = cancel && cancel->Cancelled() && result == TARVO_RUN_STOPPED;
            CloseCommand(options.run);
        }
    } else if (result == 0) {
        result = RunCommandPausing(commandLine, folder, options.timeoutMs, TARVO_CODE_PAGE_DETECT, options.flags,
                                   onLine, onPause, &details, output, size, &exitCode);
    }
    details.Show();
    const bool ran = result == 0 || result == TARVO_RUN_OUTPUT_CUT;
    if (!ran && result != TARVO_RUN_TIMED_OUT && !cancelled)
        AddReason(details, output);
    if (action == Action::Start) {
        ran ? installer.PushNumber(static_cast<int>(options.run)) : installer.Push(L"error");
        return;
    }
    if (delivery == Delivery::Stack)
        installer.Push(output);
    if (ran)
        installer.PushNumber(static_cast<int>(exitCode));
    else
        installer.Push(cancelled ? L"cancel" : result == TARVO_RUN_TIMED_OUT ? L"timeout" : L"error");
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
