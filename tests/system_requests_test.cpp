// What the DLL asks of the system, recorded at its import table: the parts of a
// request whose mistakes change nothing visible under Wine but do on Windows
// (a console window that pops up, a message text with raw placeholders).
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "import_patch.h"
#include "record_fields.h"
#include "tarvo_library.h"

namespace {

struct ProcessRequest {
    int calls = 0;
    bool hasApplication = false;
    std::string commandLine;
    bool hasProcessAttributes = false;
    bool hasThreadAttributes = false;
    BOOL inherit = FALSE;
    DWORD flags = 0;
    bool hasEnvironment = false;
    bool hasDirectory = false;
    STARTUPINFOA startup = {};
} g_process;

BOOL WINAPI RecordingCreateProcess(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                   LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                                   LPPROCESS_INFORMATION process)
{
    ++g_process.calls;
    g_process.hasApplication = application != nullptr;
    g_process.commandLine = commandLine ? commandLine : "(null)";
    g_process.hasProcessAttributes = processAttributes != nullptr;
    g_process.hasThreadAttributes = threadAttributes != nullptr;
    g_process.inherit = inherit;
    g_process.flags = flags;
    g_process.hasEnvironment = environment != nullptr;
    g_process.hasDirectory = directory != nullptr;
    memcpy(&g_process.startup, startup, sizeof g_process.startup);
    return CreateProcessA(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                          environment, directory, startup, process);
}

struct MessageRequest {
    int calls = 0;
    DWORD flags = 0;
    bool hasSource = false;
    DWORD code = 0;
    DWORD language = 0;
    bool hasArguments = false;
} g_message;

DWORD WINAPI RecordingFormatMessage(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPSTR buffer,
                                    DWORD size, va_list* arguments)
{
    g_message = {g_message.calls + 1, flags, source != nullptr, code, language, arguments != nullptr};
    return FormatMessageA(flags, source, code, language, buffer, size, arguments);
}

ImportPatch Patch(const char* function, const void* replacement)
{
    return ImportPatch(TarvoLibrary::Get().module, "KERNEL32.dll", function, replacement);
}

// A console window that Windows shows for every command, or a child that no longer
// shares its host's console, would pass every output check: only the request tells.
TEST(SystemRequests, ChildIsStartedHiddenWithOnlyItsPipeEnds)
{
    ImportPatch patch = Patch("CreateProcessA", reinterpret_cast<void*>(RecordingCreateProcess));
    ASSERT_TRUE(patch.Applied());
    g_process = {};
    const std::string commandLine = Child("echo started 0");
    char output[64] = "";
    EXPECT_EQ(0, TarvoLibrary::Get().execute(commandLine.c_str(), output, sizeof output));
    EXPECT_STREQ("started\r\n", output);

    ASSERT_EQ(1, g_process.calls);
    EXPECT_FALSE(g_process.hasApplication) << "the program must come from the command line alone";
    EXPECT_EQ(commandLine, g_process.commandLine);
    EXPECT_FALSE(g_process.hasProcessAttributes || g_process.hasThreadAttributes) << "security attributes given";
    EXPECT_EQ(TRUE, g_process.inherit) << "the child must inherit its pipe ends";
    EXPECT_EQ(0u, g_process.flags) << "creation flags: a child of a console host must share its console";
    EXPECT_FALSE(g_process.hasEnvironment || g_process.hasDirectory) << "environment or folder not inherited";

    // The documented fields as Execute sets them; every other field zero.
    const STARTUPINFOA& actual = g_process.startup;
    EXPECT_NE(nullptr, actual.hStdInput);
    EXPECT_NE(actual.hStdInput, actual.hStdOutput) << "stdin and stdout must be different pipes";
    STARTUPINFOA expected = {};
    expected.cb = sizeof(void*) == 8 ? 104 : 68;  // the record's size, written out for each width
    expected.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    expected.wShowWindow = SW_HIDE;
    expected.hStdInput = actual.hStdInput;
    expected.hStdOutput = actual.hStdOutput;
    expected.hStdError = actual.hStdOutput;  // stderr is the same pipe end as stdout
    EXPECT_FIELD(cb); EXPECT_FIELD(lpReserved); EXPECT_FIELD(lpDesktop); EXPECT_FIELD(lpTitle);
    EXPECT_FIELD(dwX); EXPECT_FIELD(dwY); EXPECT_FIELD(dwXSize); EXPECT_FIELD(dwYSize);
    EXPECT_FIELD(dwXCountChars); EXPECT_FIELD(dwYCountChars); EXPECT_FIELD(dwFillAttribute);
    EXPECT_FIELD(dwFlags); EXPECT_FIELD(wShowWindow); EXPECT_FIELD(cbReserved2); EXPECT_FIELD(lpReserved2);
    EXPECT_FIELD(hStdInput); EXPECT_FIELD(hStdOutput); EXPECT_FIELD(hStdError);
}

// With the inserts flag, messages with %1 come back with raw placeholders instead of
// no text; language 0 would look the wording up in another order than the user's.
TEST(SystemRequests, SystemTextIsAskedInTheUsersLanguageWithoutIgnoringInserts)
{
    ImportPatch patch = Patch("FormatMessageA", reinterpret_cast<void*>(RecordingFormatMessage));
    ASSERT_TRUE(patch.Applied());
    g_message = {};
    char output[1024] = "";
    EXPECT_EQ(-1, TarvoLibrary::Get().execute("no-such-program-tarvo.exe", output, sizeof output));
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), output);

    ASSERT_EQ(1, g_message.calls);
    EXPECT_EQ(static_cast<DWORD>(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM), g_message.flags)
        << "flags 0x1100 expected, got 0x" << std::hex << g_message.flags;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), g_message.code);
    EXPECT_EQ(0x0400u, g_message.language) << "language: the user's default";
    EXPECT_FALSE(g_message.hasSource) << "message source given";
    EXPECT_FALSE(g_message.hasArguments) << "argument list given";
}

// RunCommand: the order of the calls that put the child into the job before it runs,
// which no result shows (a child that ran first could start a process outside it),
// and the list that names the only handles it may inherit.
struct RunRequests {
    std::vector<std::string> calls;
    DWORD flags = 0;
    BOOL inherit = FALSE;
    STARTUPINFOW startup = {};
    HANDLE thread = nullptr;
    int strayInheritableHandles = 0;  // pipes, besides the child's own and the host's standard ones
    bool childsEndsInheritable = false;
} g_run;

bool Inheritable(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT);
}

BOOL WINAPI RecordingCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                    LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                    LPPROCESS_INFORMATION process)
{
    g_run.calls.push_back("CreateProcessW");
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        const bool childs = handle == startup->hStdInput || handle == startup->hStdOutput;
        const bool hosts = handle == GetStdHandle(STD_INPUT_HANDLE) || handle == GetStdHandle(STD_OUTPUT_HANDLE) ||
                           handle == GetStdHandle(STD_ERROR_HANDLE);
        const bool pipe = Inheritable(handle) && GetFileType(handle) == FILE_TYPE_PIPE;
        g_run.strayInheritableHandles += !childs && !hosts && pipe ? 1 : 0;
    }
    g_run.childsEndsInheritable = Inheritable(startup->hStdInput) && Inheritable(startup->hStdOutput);
    g_run.flags = flags;
    g_run.inherit = inherit;
    g_run.startup = *startup;
    const BOOL created = CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                        environment, directory, startup, process);
    g_run.thread = created ? process->hThread : nullptr;
    return created;
}

BOOL WINAPI RecordingAssignProcessToJobObject(HANDLE job, HANDLE process)
{
    g_run.calls.push_back("AssignProcessToJobObject");
    return AssignProcessToJobObject(job, process);
}

DWORD WINAPI RecordingResumeThread(HANDLE thread)
{
    g_run.calls.push_back(thread == g_run.thread ? "ResumeThread(child)" : "ResumeThread(other)");
    return ResumeThread(thread);
}

TEST(SystemRequests, RunCommandsChildJoinsTheJobSuspendedAndHidden)
{
    ImportPatch create = Patch("CreateProcessW", reinterpret_cast<void*>(RecordingCreateProcessW));
    ImportPatch assign = Patch("AssignProcessToJobObject", reinterpret_cast<void*>(RecordingAssignProcessToJobObject));
    ImportPatch resume = Patch("ResumeThread", reinterpret_cast<void*>(RecordingResumeThread));
    ASSERT_TRUE(create.Applied() && assign.Applied() && resume.Applied());
    g_run = {};
    const std::string commandLine = Child("echo started 0");
    const std::wstring wide(commandLine.begin(), commandLine.end());
    wchar_t output[64] = L"";
    unsigned long exitCode = 1;
    EXPECT_EQ(0u, TarvoLibrary::Get().runCommand(wide.c_str(), nullptr, 10000, 0xFFFFFFFF, 0, nullptr, nullptr,
                                                 output, 64, &exitCode));
    EXPECT_STREQ(L"started\r\n", output);

    EXPECT_EQ((std::vector<std::string>{"CreateProcessW", "AssignProcessToJobObject", "ResumeThread(child)"}),
              g_run.calls);
    EXPECT_EQ(static_cast<DWORD>(CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT), g_run.flags) << "creation flags";
    EXPECT_EQ(TRUE, g_run.inherit) << "the child must inherit its pipe ends";
    const STARTUPINFOW& actual = g_run.startup;
    EXPECT_EQ(sizeof(STARTUPINFOEXW), actual.cb) << "the record's size: with its list of the handles to inherit";
    EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES), actual.dwFlags);
    EXPECT_EQ(SW_HIDE, actual.wShowWindow) << "show command";
    EXPECT_NE(actual.hStdInput, actual.hStdOutput) << "stdin and stdout must be different pipes";
    EXPECT_EQ(actual.hStdOutput, actual.hStdError) << "stderr is the same pipe end as stdout";
    EXPECT_TRUE(g_run.childsEndsInheritable) << "the child's own ends must be inheritable";
    EXPECT_EQ(0, g_run.strayInheritableHandles) << "pipe ends a child could inherit besides its own";
}

DWORD WINAPI FailingResumeThread(HANDLE)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return static_cast<DWORD>(-1);
}

// A child left suspended would never end: a call without a limit would never return.
TEST(SystemRequests, RunCommandEndsAChildThatCannotBeResumed)
{
    ImportPatch resume = Patch("ResumeThread", reinterpret_cast<void*>(FailingResumeThread));
    ASSERT_TRUE(resume.Applied());
    const std::wstring commandLine = Wide(Child("echo never 0"));
    wchar_t output[256] = L"";
    unsigned long exitCode = 0;
    EXPECT_EQ(static_cast<unsigned long>(ERROR_ACCESS_DENIED),
              TarvoLibrary::Get().runCommand(commandLine.c_str(), nullptr, 0, TARVO_CODE_PAGE_DETECT, 0, nullptr,
                                             nullptr, output, 256, &exitCode));
    EXPECT_EQ(WideSystemText(ERROR_ACCESS_DENIED), Utf8(output)) << "the system's text for the failure";
}

}  // namespace
