// MsiRunCommand: a DLL custom action of Windows Installer packages that runs a command
// as RunCommand does, with its options and command line from CustomActionData (a
// deferred action) or the TarvoRunCommand property (an immediate one): each line goes
// to the installer's log as it comes, the percentage to its progress bar, and the
// user's Cancel ends the tree. msi.dll is loaded from the system folder on the first
// call, so that hosts that never call this load nothing new.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <stdio.h>
#include <wchar.h>

#include <initializer_list>
#include <memory>

#include "command_options.h"
#include "frame.h"
#include "line_decoder.h"
#include "start_command.h"
#include "tarvo_setup.h"

namespace {

constexpr const wchar_t* kImmediateProperty = L"TarvoRunCommand";
constexpr const wchar_t* kPrefix = L"TarvoSetup: ";
constexpr DWORD kAsked = kOptionTimeout | kOptionWaitTree | kOptionProgress | kOptionSuccess | kOptionHide |
                         kOptionFolder;
// The installer hears from the action at least every 100 ms, so that a Cancel comes
// through while the command says nothing: a wait of this much, then a question.
constexpr DWORD kLookEvery = 75;
// The action's own scale: 1000 tenths of a percent. Wine's dialog moves its bar only
// in steps of 512 ticks or more, so a tenth is worth more than that.
constexpr int kTicksPerTenth = 1024;
constexpr DWORD kLineRoom = LineDecoder::kLinePiece + 64;  // a line and the prefix
constexpr DWORD kEscapedRoom = 4 * kLineRoom;                 // the same, each character escaped

// The functions of msi.dll that the action calls, and its reference to the module.
struct WindowsInstaller {
    WindowsInstaller() = default;
    WindowsInstaller(const WindowsInstaller&) = delete;
    WindowsInstaller& operator=(const WindowsInstaller&) = delete;
    ~WindowsInstaller()
    {
        if (module)
            FreeLibrary(module);
    }

    HMODULE module = nullptr;
    decltype(&MsiGetPropertyW) getProperty;
    decltype(&MsiGetMode) getMode;
    decltype(&MsiCreateRecord) createRecord;
    decltype(&MsiRecordSetStringW) setString;
    decltype(&MsiRecordSetInteger) setInteger;
    decltype(&MsiProcessMessage) processMessage;
    decltype(&MsiCloseHandle) closeHandle;

    // From the system folder alone, never from beside the host or the current folder.
    bool Load()
    {
        module = LoadLibraryExW(L"msi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {  // a system without the flag
            wchar_t path[MAX_PATH];
            const UINT length = GetSystemDirectoryW(path, MAX_PATH - 10);
            if (length > 0 && length < MAX_PATH - 10)
                module = LoadLibraryW(wcscat(path, L"\\msi.dll"));
        }
        const HMODULE msi = module;
        return msi && Find(msi, "MsiGetPropertyW", getProperty) && Find(msi, "MsiGetMode", getMode) &&
               Find(msi, "MsiCreateRecord", createRecord) && Find(msi, "MsiRecordSetStringW", setString) &&
               Find(msi, "MsiRecordSetInteger", setInteger) && Find(msi, "MsiProcessMessage", processMessage) &&
               Find(msi, "MsiCloseHandle", closeHandle);
    }

    template <typename Function>
    static bool Find(HMODULE msi, const char* name, Function& function)
    {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(msi, name)));
        return function != nullptr;
    }
};

// The installer session that called the action: its property, its log, its progress
// bar and the user's Cancel, which any message may bring.
class Session {
public:
    Session(const WindowsInstaller& msi, MSIHANDLE install)
        : msi_(msi), install_(install),
          line_(static_cast<wchar_t*>(malloc((kLineRoom + kEscapedRoom) * sizeof(wchar_t))))
    {
    }

    bool Cancelled() const { return cancelled_; }

    // The action's text, on the heap; null when there is none or no memory.
    wchar_t* ReadText() const
    {
        const wchar_t* name = msi_.getMode(install_, MSIRUNMODE_SCHEDULED) ? L"CustomActionData" : kImmediateProperty;
        wchar_t empty[1];
        DWORD size = 0;
        if (msi_.getProperty(install_, name, empty, &size) != ERROR_MORE_DATA)
            return nullptr;
        auto* text = static_cast<wchar_t*>(malloc((++size) * sizeof(wchar_t)));
        if (text && msi_.getProperty(install_, name, text, &size) != ERROR_SUCCESS) {
            free(text);
            text = nullptr;
        }
        return text;
    }

    // A line for the log as it stands. The installer formats a record's template once,
    // so the line is the template, with every bracket and brace escaped ([\[]); Wine
    // formats the text of a field again as well, where a line's "[INFO]" would go.
    void Log(const wchar_t* format, ...)
    {
        if (!line_)
            return;
        wchar_t* const text = line_.get();
        va_list arguments;
        va_start(arguments, format);
        _vsnwprintf(text, kLineRoom, format, arguments);
        va_end(arguments);
        text[kLineRoom - 1] = L'\0';
        wchar_t* escaped = text + kLineRoom;
        for (const wchar_t* at = text; *at; ++at) {
            const bool special = wcschr(L"[]{}", *at) != nullptr;
            if (special) {
                *escaped++ = L'[';
                *escaped++ = L'\\';
            }
            *escaped++ = *at;
            if (special)
                *escaped++ = L']';
        }
        *escaped = L'\0';
        SendTemplate(INSTALLMESSAGE_INFO, text + kLineRoom);
    }

    // The action in the progress dialog, with the bar on its own scale.
    void StartProgress(const wchar_t* description)
    {
        Send(INSTALLMESSAGE_ACTIONSTART, {}, L"TarvoRunCommand", description, L"[1]");
        Send(INSTALLMESSAGE_PROGRESS, {0, 1000 * kTicksPerTenth, 0, 0});
    }

    void ShowLine(const wchar_t* line) { Send(INSTALLMESSAGE_ACTIONDATA, {}, line); }

    void MoveBarTo(unsigned long tenths)
    {
        if (tenths > shownTenths_)
            Send(INSTALLMESSAGE_PROGRESS, {2, static_cast<int>(tenths - shownTenths_) * kTicksPerTenth});
        shownTenths_ = tenths > shownTenths_ ? tenths : shownTenths_;
    }

    // A message that moves nothing, for the user's answer: whether to go on.
    bool Ask()
    {
        Send(INSTALLMESSAGE_PROGRESS, {2, 0});
        return !cancelled_;
    }

private:
    struct Numbers {
        int values[4];
        UINT count;
        Numbers() : values{}, count(0) {}
        Numbers(std::initializer_list<int> list) : values{}, count(0)
        {
            for (int value : list)
                values[count++] = value;
        }
    };

    // A record of the numbers, or else the texts.
    template <typename... Texts>
    void Send(INSTALLMESSAGE type, const Numbers& numbers, const Texts*... texts)
    {
        const wchar_t* const strings[] = {texts..., nullptr};
        const UINT count = numbers.count ? numbers.count : static_cast<UINT>(sizeof...(texts));
        const MSIHANDLE record = msi_.createRecord(count);
        if (!record)
            return;
        for (UINT i = 0; i < numbers.count; ++i)
            msi_.setInteger(record, i + 1, numbers.values[i]);
        for (UINT i = 0; i < sizeof...(texts); ++i)
            msi_.setString(record, i + 1, strings[i]);
        Process(type, record);
    }

    void SendTemplate(INSTALLMESSAGE type, const wchar_t* text)
    {
        const MSIHANDLE record = msi_.createRecord(0);
        if (record && msi_.setString(record, 0, text) == ERROR_SUCCESS)
            Process(type, record);
        else if (record)
            msi_.closeHandle(record);
    }

    // Sends the record and closes it; any answer may be the user's Cancel.
    void Process(INSTALLMESSAGE type, MSIHANDLE record)
    {
        if (msi_.processMessage(install_, type, record) == IDCANCEL)
            cancelled_ = true;
        msi_.closeHandle(record);
    }

    const WindowsInstaller& msi_;
    const MSIHANDLE install_;
    const std::unique_ptr<wchar_t, FreeDeleter> line_;  // off the stack of a thread not ours
    bool cancelled_ = false;
    unsigned long shownTenths_ = 0;
};

// The action's text read: its options, then the command line. The options' values
// stay in text, which is written to (a token's end, its quotes).
struct Settings {
    CommandOptions options;
    const wchar_t* commandLine = nullptr;
};

// Reads the options before the command line; false after logging what is wrong and
// how to write it. A value in quotes may have spaces: /DIR="C:\Program Files\Tarvo".
bool ReadSettings(wchar_t* text, Settings& settings, Session& session)
{
    wchar_t* at = text;
    for (;;) {
        at += wcsspn(at, L" \t");
        if (*at != L'/')
            break;
        wchar_t* const option = at;
        bool quoted = false;
        wchar_t* to = at;
        for (; *at && (quoted || (*at != L' ' && *at != L'\t')); ++at) {
            if (*at == L'"')
                quoted = !quoted;
            else
                *to++ = *at;
        }
        const bool more = *at != L'\0';
        *to = L'\0';
        at += more ? 1 : 0;
        const OptionRead read = ReadOption(option, kAsked, settings.options);
        if (read == OptionRead::Unknown) {
            session.Log(L"%lsunknown option %ls. Write /TIMEOUT=MS, /SUCCESS=CODE,CODE..., /PROGRESS, /HIDE, "
                        L"/DIR=FOLDER or /WAITTREE, then the command line with its program's full path in quotes.",
                        kPrefix, option);
            return false;
        }
        if (read == OptionRead::BadValue) {
            session.Log(L"%lsbad value in %ls. Write /TIMEOUT=600000 (milliseconds), /SUCCESS=0,3010 (exit codes) "
                        L"or /DIR=\"C:\\Program Files\\Tarvo\".",
                        kPrefix, option);
            return false;
        }
    }
    if (*at == L'\0') {
        session.Log(L"%lsno command line after the options. Write the options, then the command line, such as "
                    L"/TIMEOUT=600000 \"[INSTALLDIR]tool.exe\" --check.",
                    kPrefix);
        return false;
    }
    settings.commandLine = at;
    return true;
}

// What a wait hands over: each line to the log as it comes, and with /PROGRESS to the
// dialog with its percentage; a Cancel in any answer stops the command.
struct LineSink {
    Session& session;
    const CommandOptions& options;

    static int __stdcall OnLine(const wchar_t* line, unsigned long length, void* context)
    {
        auto& sink = *static_cast<LineSink*>(context);
        if (!sink.options.hide)
            sink.session.Log(L"%ls%ls", kPrefix, line);
        if (sink.options.progress) {
            const unsigned long tenths = ReadPercentage(line, length);
            if (!sink.options.hide)
                sink.session.ShowLine(line);
            if (tenths != TARVO_NO_PERCENTAGE)
                sink.session.MoveBarTo(tenths);
        }
        return sink.session.Cancelled() ? 1 : 0;
    }
};

// "Running tool.exe": the program's name, for the progress dialog, whose line is short.
void Describe(const wchar_t* commandLine, wchar_t (&description)[MAX_PATH + 16])
{
    const bool quoted = commandLine[0] == L'"';
    const wchar_t* const program = commandLine + (quoted ? 1 : 0);
    size_t length = wcscspn(program, quoted ? L"\"" : L" \t");
    const wchar_t* name = program;
    for (size_t i = 0; i < length; ++i)
        if (program[i] == L'\\' || program[i] == L'/')
            name = program + i + 1;
    length -= static_cast<size_t>(name - program);
    _snwprintf(description, MAX_PATH + 16, L"Running %.*ls", static_cast<int>(length < MAX_PATH ? length : MAX_PATH),
               name);
    description[MAX_PATH + 15] = L'\0';
}

UINT RunFromSettings(Session& session, const Settings& settings)
{
    const CommandOptions& options = settings.options;
    if (!options.hide)
        session.Log(L"%lsrunning %ls", kPrefix, settings.commandLine);
    wchar_t reason[kMessageSize];
    unsigned long run = 0, exitCode = 0;
    const DWORD started = GetTickCount();
    unsigned long result = StartCommand(settings.commandLine, options.folder, options.timeoutMs,
                                        TARVO_CODE_PAGE_DETECT, options.flags, reason, kMessageSize, &run);
    if (result != 0) {
        session.Log(L"%lsthe command could not start: %ls", kPrefix, reason);
        return ERROR_INSTALL_FAILURE;
    }
    if (options.progress) {
        wchar_t description[MAX_PATH + 16] = L"Running a command";
        if (!options.hide)
            Describe(settings.commandLine, description);
        session.StartProgress(description);
    }
    LineSink sink = {session, options};
    while ((result = WaitCommandPausing(run, kLookEvery, LineSink::OnLine, nullptr, &sink, reason, kMessageSize,
                                        &exitCode)) == TARVO_RUN_STILL_RUNNING) {
        if (!session.Ask())
            StopCommand(run);
    }
    CloseCommand(run);
    const DWORD took = GetTickCount() - started;
    if (session.Cancelled()) {
        session.Log(L"%lscancelled by the user after %lu ms: the command was ended with every process it started.",
                    kPrefix, took);
        return ERROR_INSTALL_USEREXIT;
    }
    if (result == TARVO_RUN_TIMED_OUT) {
        session.Log(L"%lsthe command was ended after its limit of %lu ms, with every process it started.", kPrefix,
                    options.timeoutMs);
        return ERROR_INSTALL_FAILURE;
    }
    if (result != 0 && result != TARVO_RUN_OUTPUT_CUT) {
        session.Log(L"%lsthe wait for the command failed: %ls", kPrefix, reason);
        return ERROR_INSTALL_FAILURE;
    }
    const bool succeeded = options.Succeeded(exitCode);
    session.Log(L"%lsthe command ended with exit code %lu after %lu ms%ls", kPrefix, exitCode, took,
                succeeded ? L"." : L", which is none of the exit codes that count as success (/SUCCESS=).");
    return succeeded ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

unsigned int __stdcall MsiRunCommand(unsigned long install)
{
    WindowsInstaller msi;
    if (!msi.Load())
        return ERROR_INSTALL_FAILURE;
    Session session(msi, install);
    const std::unique_ptr<wchar_t, FreeDeleter> text(session.ReadText());
    if (!text) {
        session.Log(L"%lsno settings: a deferred action reads them from CustomActionData, an immediate one from "
                    L"the property %ls.",
                    kPrefix, kImmediateProperty);
        return ERROR_INSTALL_FAILURE;
    }
    const auto settings = MakeOnHeap<Settings>();
    if (!settings || !ReadSettings(text.get(), *settings, session))
        return ERROR_INSTALL_FAILURE;
    return RunFromSettings(session, *settings);
}
