// The plug-in commands as an NSIS installer calls them: its stack and variables laid
// out and allocated as NSIS does, in the ANSI and the Unicode width, and its install
// page's details list.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "tarvo_library.h"

namespace {

struct StackItem {
    StackItem* next;
    char text[1];
};

struct ExecFlags {
    int fields[2];
    int execError;
    int more[4];
    int pluginApiVersion = 0x00010000;
    int rest[5];
    int statusUpdate;
};

using PluginCallback = UINT_PTR(__cdecl*)(int message);

struct ExtraParameters {
    ExecFlags* execFlags;
    void* unused[2];
    int(__stdcall* registerPluginCallback)(HMODULE, PluginCallback);
};

// The callback that a command registered last, as NSIS keeps it.
PluginCallback g_registered = nullptr;

int __stdcall RegisterPluginCallback(HMODULE module, PluginCallback callback)
{
    EXPECT_EQ(TarvoLibrary::Get().module, module) << "a callback registered for another module";
    g_registered = callback;
    return 0;
}

using PluginCommand = void(__cdecl*)(HWND, int, void*, StackItem**, ExtraParameters*);

constexpr int kVariables = 32;
// A file that is there but is no program: the system's own refusal, as it comes.
const std::wstring kNoProgram = Wide("\"" + ProgramFolder() + "TarvoSetup.DLL\"");

// Whether the installer is Unicode; amd64 installers are Unicode only.
#ifdef _WIN64
constexpr bool kWidths[] = {true};
#else
constexpr bool kWidths[] = {false, true};
#endif

// An installer's state in one width, with NSIS's string size.
class FakeInstaller {
public:
    explicit FakeInstaller(bool unicode, int stringSize = 1024)
        : unicode_(unicode), stringSize_(stringSize), variables_(kVariables * Bytes(stringSize))
    {
        SetVariable(20, Wide(GetCommandLineA()));  // $CMDLINE, as NSIS sets it
    }
    ~FakeInstaller()
    {
        while (stack_)
            Pop();
    }

    ExecFlags& Flags() { return flags_; }

    // As NSIS's Push: room for string size characters, whatever the text's length.
    void Push(const std::wstring& text)
    {
        auto* item = static_cast<StackItem*>(GlobalAlloc(GPTR, sizeof(StackItem*) + Bytes(stringSize_)));
        Store(text, item->text);
        item->next = stack_;
        stack_ = item;
    }

    std::wstring Pop()
    {
        StackItem* item = stack_;
        stack_ = item->next;
        const std::wstring text = unicode_ ? std::wstring(reinterpret_cast<wchar_t*>(item->text))
                                           : Wide(std::string(item->text));
        GlobalFree(item);
        return text;
    }

    void SetVariable(int index, const std::wstring& text) { Store(text, &variables_[index * Bytes(stringSize_)]); }

    // Calls command with the arguments as a script writes them (the first on top),
    // above an item of the caller's own, and returns what it left above that item,
    // top first.
    std::vector<std::wstring> Call(const char* command, const std::vector<std::wstring>& arguments,
                                   HWND parent = nullptr, bool callersItem = true)
    {
        if (callersItem)
            Push(L"the caller's own");
        for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument)
            Push(*argument);
        const auto run = reinterpret_cast<PluginCommand>(
            reinterpret_cast<void*>(GetProcAddress(TarvoLibrary::Get().module, command)));
        if (!run) {
            ADD_FAILURE() << "no export " << command;
            return {};
        }
        ExtraParameters extra = {&flags_, {}, RegisterPluginCallback};
        run(parent, stringSize_, variables_.data(), &stack_, &extra);
        std::vector<std::wstring> pushed;
        while (stack_) {
            const std::wstring text = Pop();
            if (text == L"the caller's own")
                break;
            pushed.push_back(text);
        }
        EXPECT_EQ(nullptr, stack_) << "the caller's items below the arguments were taken";
        return pushed;
    }

private:
    size_t Bytes(int characters) const { return characters * (unicode_ ? 2 : 1); }

    void Store(const std::wstring& text, char* to) const
    {
        if (unicode_)
            lstrcpynW(reinterpret_cast<wchar_t*>(to), text.c_str(), stringSize_);
        else
            lstrcpynA(to, Narrow(text).c_str(), stringSize_);
    }

    static std::string Narrow(const std::wstring& text)
    {
        std::string bytes(text.size() * 2 + 1, '\0');
        bytes.resize(WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                                         static_cast<int>(bytes.size()), nullptr, nullptr));
        return bytes;
    }

    const bool unicode_;
    const int stringSize_;
    std::vector<char> variables_;
    StackItem* stack_ = nullptr;
    ExecFlags flags_ = {};
};


std::string Shown(const std::vector<std::wstring>& texts)
{
    std::string shown;
    for (const std::wstring& text : texts)
        shown += "\"" + Utf8(text) + "\" ";
    return shown;
}

TEST(NsisPlugin, CommandsTakeAndGiveStringsInTheInstallersWidth)
{
    struct Case {
        const char* what;
        const char* command;
        std::vector<std::wstring> arguments;
        std::vector<std::wstring> expected;  // as popped
    };
    std::wstring pattern;  // what "pattern" writes, as far as NSIS's 1024 characters take it
    for (unsigned long i = 0; i < 1023; ++i)
        pattern += static_cast<wchar_t>('!' + i % 251 % 94);
    const Case cases[] = {
        {"Run pushes the exit code", "Run", {WideChild("echo hello 7")}, {L"7"}},
        {"an exit code above 2^31 is negative, as NSIS reads it", "Run", {WideChild("echo x 4294967295")}, {L"-1"}},
        {"RunToStack pushes the output under the result", "RunToStack", {WideChild("echo hello 3")},
         {L"3", L"hello\r\n"}},
        {"RunToLog without a window pushes the result alone", "RunToLog", {WideChild("echo hello 4")}, {L"4"}},
        {"options before the command line", "RunToStack", {L"/WAITTREE", L"/timeout=60000", WideChild("echo w 5")},
         {L"5", L"w\r\n"}},
        {"the limit ends the tree", "RunToStack", {L"/TIMEOUT=300", WideChild("sleep 60000")}, {L"timeout", L""}},
        {"a command that cannot start", "RunToStack", {kNoProgram},
         {L"error", Wide(WideSystemText(ERROR_BAD_EXE_FORMAT), CP_UTF8)}},
        {"an unknown option", "RunToStack", {L"/SOON", WideChild("exit")},
         {L"error", L"TarvoSetup::RunToStack: unknown option /SOON"}},
        {"a limit that is no number", "Run", {L"/TIMEOUT=soon", WideChild("exit")}, {L"error"}},
        {"a limit beyond 32 bits", "Run", {L"/TIMEOUT=99999999999", WideChild("exit")}, {L"error"}},
        {"an empty command line", "RunToStack", {L""}, {L"error", L"TarvoSetup::RunToStack: no command line"}},
        {"the output is cut to the string size less one", "RunToStack", {WideChild("pattern 3000")},
         {L"0", pattern}},
        {"Start, for a command that cannot start", "Start", {kNoProgram}, {L"error"}},
        {"Start, with an unknown option", "Start", {L"/SOON", WideChild("exit")}, {L"error"}},
        {"a wait for no run number", "WaitToStack", {L"soon"}, {L"error", L"TarvoSetup::WaitToStack: no run number"}},
        {"a wait for a number never given", "WaitToStack", {L"4000000000"},
         {L"error", Wide(WideSystemText(ERROR_INVALID_HANDLE), CP_UTF8)}},
        {"Stop pushes nothing", "Stop", {L"4000000000"}, {}},
    };
    for (const bool unicode : kWidths) {
        for (const Case& c : cases) {
            FakeInstaller installer(unicode);
            const std::vector<std::wstring> pushed = installer.Call(c.command, c.arguments);
            EXPECT_EQ(c.expected, pushed) << (unicode ? "Unicode" : "ANSI") << ", " << c.what << ": expected "
                                          << Shown(c.expected) << "got " << Shown(pushed);
        }
    }
}

// Start pushes the run's number, which the waits and Stop take; a wait pushes what
// the Run command of its name pushes, and closes the run.
TEST(NsisPlugin, StartedRunsAreWaitedForInTheInstallersWidth)
{
    struct Case {
        const char* what;
        std::vector<std::wstring> start;
        bool stop;  // Stop before the wait
        const char* wait;
        std::vector<std::wstring> expected;  // as popped
    };
    const Case cases[] = {
        {"Wait pushes the exit code", {WideChild("echo hello 7")}, false, "Wait", {L"7"}},
        {"WaitToStack the output under it", {WideChild("echo hello 3")}, false, "WaitToStack", {L"3", L"hello\r\n"}},
        {"WaitToLog without a window the result alone", {WideChild("echo hello 4")}, false, "WaitToLog", {L"4"}},
        {"the limit counts from the start", {L"/TIMEOUT=300", WideChild("sleep 60000")}, false, "Wait",
         {L"timeout"}},
        {"a stopped run", {WideChild("sleep 60000")}, true, "Wait", {L"error"}},
    };
    for (const bool unicode : kWidths) {
        for (const Case& c : cases) {
            const char* width = unicode ? "Unicode" : "ANSI";
            FakeInstaller installer(unicode);
            const std::vector<std::wstring> started = installer.Call("Start", c.start);
            ASSERT_EQ(1u, started.size()) << width << ", " << c.what << ": Start pushed " << Shown(started);
            const std::wstring number = started[0];
            EXPECT_NE(L"error", number) << width << ", " << c.what;
            if (c.stop) {
                EXPECT_TRUE(installer.Call("Stop", {number}).empty());
            }
            const std::vector<std::wstring> pushed = installer.Call(c.wait, {number});
            EXPECT_EQ(c.expected, pushed) << width << ", " << c.what << ": expected " << Shown(c.expected) << "got "
                                          << Shown(pushed);
            EXPECT_EQ(0, installer.Flags().execError) << width << ", " << c.what << ": the error flag";
            installer.Call("Stop", {number});
            EXPECT_EQ(1, installer.Flags().execError) << width << ", " << c.what << ": Stop after the wait's close";
        }
    }
}

// NSIS sends its unload message before it frees its plug-ins and deletes their
// folder: every run still going ends then, with its tree.
TEST(NsisPlugin, TheUnloadMessageEndsEveryRun)
{
    FakeInstaller installer(kWidths[0]);
    g_registered = nullptr;
    const std::wstring number = installer.Call("Start", {WideChild("tree 2 60000")}).at(0);
    ASSERT_TRUE(g_registered != nullptr) << "Start registered no callback";
    std::vector<wchar_t> text(1024);
    unsigned long exitCode = 0;
    const unsigned long command = wcstoul(number.c_str(), nullptr, 10);
    TarvoLibrary::Get().waitCommand(command, 2000, nullptr, nullptr, text.data(), 1024, &exitCode);
    const std::vector<DWORD> tree = StartedProcesses(text.data());
    EXPECT_EQ(2u, tree.size()) << "the tree said " << Utf8(text.data());
    EXPECT_EQ(0u, g_registered(0));
    for (DWORD id : tree)
        EXPECT_TRUE(Ended(id)) << "process " << id << " outlived the unload message";
    EXPECT_EQ((std::vector<std::wstring>{L"error"}), installer.Call("Wait", {number})) << "the run is still open";
}

// Nothing on the stack at all: the width cannot come from a string of NSIS's, yet
// "error" must be readable.
TEST(NsisPlugin, NothingOnTheStackIsAnErrorInTheInstallersWidth)
{
    for (const bool unicode : kWidths) {
        FakeInstaller installer(unicode);
        const std::vector<std::wstring> pushed = installer.Call("Run", {}, nullptr, false);
        EXPECT_EQ(std::vector<std::wstring>{L"error"}, pushed)
            << (unicode ? "Unicode" : "ANSI") << ": got " << Shown(pushed);
    }
}

// An install page as NSIS makes it: the outer window, the page (a dialog) in it, and
// on the page the details list (1016) and the status text above it (1006).
class InstallPage {
public:
    InstallPage()
    {
        InitCommonControls();
        outer_ = CreateWindowExW(0, L"#32770", L"Tarvo test setup", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr,
                                 nullptr, nullptr, nullptr);
        const HWND page = CreateWindowExW(0, L"#32770", L"", WS_CHILD | WS_VISIBLE, 0, 0, 500, 400, outer_, nullptr,
                                          nullptr, nullptr);
        status_ = CreateWindowExW(0, L"STATIC", L"status before", WS_CHILD | WS_VISIBLE, 0, 0, 480, 20, page,
                                  reinterpret_cast<HMENU>(1006), nullptr, nullptr);
        list_ = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_NOCOLUMNHEADER, 0, 30,
                                480, 300, page, reinterpret_cast<HMENU>(1016), nullptr, nullptr);
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH;
        column.cx = 460;
        SendMessageW(list_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
        Add(L"before");
    }
    InstallPage(const InstallPage&) = delete;
    InstallPage& operator=(const InstallPage&) = delete;
    ~InstallPage() { DestroyWindow(outer_); }

    HWND Outer() const { return outer_; }

    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> lines;
        const int count = static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t text[1024] = {};
            LVITEMW item = {};
            item.pszText = text;
            item.cchTextMax = 1024;
            SendMessageW(list_, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            lines.push_back(text);
        }
        return lines;
    }

    std::wstring Status() const
    {
        wchar_t text[1024] = {};
        GetWindowTextW(status_, text, 1024);
        return text;
    }

private:
    void Add(const wchar_t* text)
    {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.pszText = const_cast<wchar_t*>(text);
        SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }

    HWND outer_ = nullptr;
    HWND list_ = nullptr;
    HWND status_ = nullptr;
};

TEST(NsisPlugin, RunToLogFillsTheDetailsAsSetDetailsPrintAllows)
{
    const std::vector<std::wstring> interleaved = {L"before", L"out 0", L"err 0", L"out 1",
                                                   L"err 1",  L"out 2", L"err 2"};
    const std::wstring missing = Wide(WideSystemText(ERROR_BAD_EXE_FORMAT), CP_UTF8);
    struct Case {
        const char* what;
        int statusUpdate;  // SetDetailsPrint: both 0, textonly 2, listonly 4, none 6
        std::wstring commandLine;
        std::wstring result;
        std::vector<std::wstring> lines;
        std::wstring status;
    };
    const Case cases[] = {
        {"both", 0, WideChild("interleave"), L"0", interleaved, L"err 2"},
        {"textonly", 2, WideChild("interleave"), L"0", {L"before"}, L"err 2"},
        {"listonly", 4, WideChild("interleave"), L"0", interleaved, L"status before"},
        {"none", 6, WideChild("interleave"), L"0", {L"before"}, L"status before"},
        {"progress states replace each other, not the line before them", 0, WideChild("progress 100"), L"0",
         {L"before", L"get 100%"}, L"get 100%"},
        {"the reason a command could not start", 0, kNoProgram, L"error",
         {L"before", missing.substr(0, missing.find_last_not_of(L"\r\n") + 1)},
         missing.substr(0, missing.find_last_not_of(L"\r\n") + 1)},
    };
    for (const bool unicode : kWidths) {
        for (const Case& c : cases) {
            const InstallPage page;
            FakeInstaller installer(unicode);
            installer.Flags().statusUpdate = c.statusUpdate;
            const std::vector<std::wstring> pushed = installer.Call("RunToLog", {c.commandLine}, page.Outer());
            const char* width = unicode ? "Unicode" : "ANSI";
            EXPECT_EQ(std::vector<std::wstring>{c.result}, pushed) << width << ", " << c.what << ": got " << Shown(pushed);
            EXPECT_EQ(c.lines, page.Lines()) << width << ", " << c.what << ": expected the list " << Shown(c.lines)
                                             << "got " << Shown(page.Lines());
            EXPECT_EQ(Utf8(c.status), Utf8(page.Status())) << width << ", " << c.what << ": the status text";
        }
    }
}

}  // namespace
