// Runs the test kit on a Windows machine: every case of every *_test.exe beside it,
// each in a process of its own (so that handle and thread counts stay per case), and
// the scenes in which window-answerer plays the user of the real boxes and dialog
// that the sample host opens. One line a case, and the count at the end. The same
// lines go to results.txt, under the Windows version and the DLL's SHA-256, so that
// the file alone is the report; a failed case's output follows its line there.
//   kit-runner [tests|gui [SECONDS]]  all cases, or only one kind, each given SECONDS
//                                     (180 unless told); exit status 0 only when no
//                                     case failed
#include <windows.h>
#include <bcrypt.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "owned_handle.h"
#include "tarvo_library.h"

namespace {

DWORD g_casePatience = 180000;           // milliseconds; only turns a hang into a failure
constexpr DWORD kEndedPatience = 10000;  // milliseconds for an ended case to be gone

std::string g_folder;  // the kit's folder, with its trailing backslash
FILE* g_report = nullptr;

// To the console and the report alike.
void Say(const char* format, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    fputs(line, stdout);
    fflush(stdout);
    if (g_report)
        fputs(line, g_report);
}

std::string ContentsOf(const std::string& path)
{
    std::string bytes;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        char block[4096];
        for (size_t got; (got = fread(block, 1, sizeof block, file)) > 0;)
            bytes.append(block, got);
        fclose(file);
    }
    return bytes;
}

// The lines of a program's output, without their line ends.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r')
            lines.back().pop_back();
        start = end + 1;
    }
    return lines;
}

std::string WindowsVersion()
{
    // GetVersionEx answers what the manifest allows; RtlGetVersion the truth.
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto getVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    if (!getVersion || getVersion(&version) != 0)
        return "unknown";
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    char text[128];
    const char* kind = sizeof(void*) == 8 ? "64-bit (the x64 kit)"
                       : wow64            ? "64-bit (the x86 kit, under WOW64)"
                                          : "32-bit (the x86 kit)";
    snprintf(text, sizeof text, "%lu.%lu.%lu, %s", version.dwMajorVersion, version.dwMinorVersion,
             version.dwBuildNumber, kind);
    return text;
}

std::string Sha256(const std::string& bytes)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return "unknown";
    UCHAR digest[32] = {};
    const NTSTATUS status = BCryptHash(algorithm, nullptr, 0,
                                       reinterpret_cast<UCHAR*>(const_cast<char*>(bytes.data())),
                                       static_cast<ULONG>(bytes.size()), digest, sizeof digest);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!BCRYPT_SUCCESS(status))
        return "unknown";
    std::string hex;
    for (UCHAR byte : digest) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

struct Outcome {
    bool finished;
    DWORD exitCode;
    double seconds;
    std::string output;
};

// One argument of a command line, quoted by the rules that the C runtime reads argv
// with, so that it may itself hold a quoted command line.
std::string Quote(const std::string& argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

// A program started in the kit's folder with stdout and stderr in a file of its own
// and NUL as stdin, in a job that holds it and whatever it starts; waited for within
// the patience. One that outlives it is ended with its whole tree, and so is anything
// a finished case left running: nothing of one case holds on into the next.
Outcome Run(const std::string& commandLine)
{
    static int runs = 0;
    const std::string outputPath = g_folder + "output-" + std::to_string(++runs) + ".txt";
    Outcome outcome = {false, 0, 0, ""};
    const DWORD startTime = GetTickCount();
    {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        const OwnedHandle input = OwnedFile(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                        &inheritable, OPEN_EXISTING, 0, nullptr));
        const OwnedHandle output = OwnedFile(CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                         &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!input || !output)
            return {false, 0, 0, "cannot open NUL or " + outputPath + ": error " + std::to_string(GetLastError()) + "\n"};
        // Closing the job's last handle ends every process still in it. A case may
        // start a process that leaves its jobs (and ends it itself): Windows lets it
        // only where every job it is in allows that.
        const OwnedHandle job(CreateJobObjectA(nullptr, nullptr));
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
        if (!job || !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
            return {false, 0, 0, "cannot make a job for " + commandLine + ": error " + std::to_string(GetLastError()) + "\n"};
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.get();
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
        PROCESS_INFORMATION started = {};
        std::string writable = commandLine;
        if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, g_folder.c_str(),
                            &startup, &started))
            return {false, 0, 0, "cannot start " + commandLine + ": error " + std::to_string(GetLastError()) + "\n"};
        const OwnedHandle process(started.hProcess);
        const OwnedHandle thread(started.hThread);
        if (!AssignProcessToJobObject(job.get(), process.get())) {
            const DWORD code = GetLastError();
            TerminateProcess(process.get(), 1);
            return {false, 0, 0, "cannot put " + commandLine + " into a job: error " + std::to_string(code) + "\n"};
        }
        ResumeThread(thread.get());
        outcome.finished = WaitForSingleObject(process.get(), g_casePatience) == WAIT_OBJECT_0;
        TerminateJobObject(job.get(), 1);
        WaitForSingleObject(process.get(), kEndedPatience);
        GetExitCodeProcess(process.get(), &outcome.exitCode);
    }  // the output file is closed before it is read and deleted
    outcome.seconds = (GetTickCount() - startTime) / 1000.0;
    outcome.output = ContentsOf(outputPath);
    DeleteFileA(outputPath.c_str());
    return outcome;
}

std::string NotEndedInTime()
{
    return "did not end within " + std::to_string(g_casePatience / 1000) + " s, so it was ended with its processes";
}

struct Tally {
    int passed = 0;
    int failed = 0;

    // failure is empty for a case that passed; details go to the report only.
    void Count(const std::string& name, const std::string& failure, double seconds, const std::string& details)
    {
        if (failure.empty()) {
            Say("ok     %s (%.1f s)\n", name.c_str(), seconds);
            ++passed;
            return;
        }
        ++failed;
        Say("FAILED %s (%s)\n", name.c_str(), failure.c_str());
        if (g_report)
            fprintf(g_report, "%s\n", details.c_str());
    }
};

// The cases a GoogleTest program lists: "Suite." lines, each followed by "  Case" lines.
std::vector<std::string> ListCases(const std::string& program)
{
    std::vector<std::string> cases;
    std::string suite;
    for (const std::string& line : Lines(Run(Quote(g_folder + program) + " --gtest_list_tests").output)) {
        // A name ends at the first space; a parameter's comment may follow it.
        if (line.rfind("  ", 0) == 0)
            cases.push_back(suite + line.substr(2, line.find(' ', 2) - 2));
        else if (!line.empty())
            suite = line.substr(0, line.find(' '));
    }
    return cases;
}

std::vector<std::string> TestPrograms()
{
    std::vector<std::string> programs;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((g_folder + "*_test.exe").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return programs;
    do
        programs.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return programs;
}

// Every case, or the first of each program (for a machine where every case costs
// seconds, which has run them all already).
void RunGoogleTestCases(Tally& tally, bool firstOnly)
{
    for (const std::string& program : TestPrograms()) {
        std::vector<std::string> cases = ListCases(program);
        if (cases.empty())
            tally.Count(program, "lists no cases", 0, "");
        if (firstOnly && cases.size() > 1)
            cases.resize(1);
        for (const std::string& name : cases) {
            const Outcome outcome = Run(Quote(g_folder + program) + " --gtest_filter=" + name);
            std::string failure;
            if (!outcome.finished)
                failure = NotEndedInTime();
            else if (outcome.exitCode != 0)
                failure = "exit code " + std::to_string(outcome.exitCode);
            else if (outcome.output.find("[  PASSED  ] 1 test.") == std::string::npos)
                failure = "ran no test";  // a filter that matched nothing exits 0 too
            tally.Count(name, failure, outcome.seconds, outcome.output);
        }
    }
}

// --- the real boxes and dialog ---------------------------------------------------

bool HasLine(const std::string& text, const std::string& line)
{
    for (const std::string& candidate : Lines(text))
        if (candidate == line)
            return true;
    return false;
}

// The system's text for code as window-answerer prints it: line ends shown as \r, \n.
std::string EscapedSystemText(DWORD code)
{
    std::string escaped;
    for (char c : SystemText(code))
        escaped += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return escaped;
}

// One scene: window-answerer starts the sample host, answers the windows it opens
// and waits for it; between them they must print the lines expected.
struct Scene {
    std::string name;
    std::string host;   // tarvo-host's arguments
    std::string steps;  // window-answerer's steps
    std::vector<std::string> lines;
};

void Play(const Scene& scene, Tally& tally)
{
    const Outcome outcome = Run(Quote(g_folder + "window-answerer.exe") + " " +
                                Quote(Quote(g_folder + "tarvo-host.exe") + " " + scene.host) + " " + scene.steps);
    // The host prints in the ANSI code page, window-answerer in UTF-8: a kit folder
    // with characters beyond ASCII reads differently in the two.
    std::string missing;
    for (const std::string& line : scene.lines)
        if (!HasLine(outcome.output, line) && !HasLine(outcome.output, Utf8(Wide(line))))
            missing += "expected: " + line + "\n";
    const std::string failure = !outcome.finished ? NotEndedInTime()
                                : outcome.exitCode != 0 ? "a window did not come, or the host did not end"
                                : missing.empty() ? ""
                                                  : "a window or its answer was not as expected";
    tally.Count("Windows." + scene.name, failure, outcome.seconds, missing + "printed:\n" + outcome.output);
}

void RunWindowScenes(Tally& tally)
{
    const std::string work = g_folder + "scenes\\";
    CreateDirectoryA(work.c_str(), nullptr);
    const std::string notice = work + "notice.txt";
    if (FILE* file = fopen(notice.c_str(), "wb")) {
        fputs("Read me first.\r\nThen install.", file);
        fclose(file);
    }
    const std::string folder = work + "folder";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string patch = work + "fix.z";
    if (FILE* file = fopen(patch.c_str(), "wb"))
        fclose(file);

    const char* title = "Please choose a Patch File";
    const std::vector<Scene> scenes = {
        {"NoticeBoxShowsTheFile", "show " + Quote(notice) + " \"TarvoSetup notice test\"",
         "box \"TarvoSetup notice test\"",
         {"box TarvoSetup notice test: Read me first.\\r\\nThen install.", "ShowMsg returned 0"}},
        {"WarningBoxForAFolder", "show " + Quote(folder) + " \"never shown\"", "box \"Tarvo Setup\"",
         {"box Tarvo Setup: Operation failed: errno = 5\\n" + EscapedSystemText(ERROR_ACCESS_DENIED),
          "ShowMsg returned -1"}},
        {"CancelledDialog", "pick", "cancel " + Quote(title),
         {"cancel " + std::string(title) + ": filter Patch Files (*.z)", "SelectPatchFile returned 0 (stored 0)"}},
        {"ChosenPatchFile", "pick", "pick " + Quote(title) + " " + Quote(patch),
         {"pick " + std::string(title) + ": typed " + patch, "SelectPatchFile returned 1 (stored 1)",
          "chosen: " + patch}},
    };
    for (const Scene& scene : scenes)
        Play(scene, tally);

    DeleteFileA(notice.c_str());
    DeleteFileA(patch.c_str());
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA(work.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string only = argc > 1 ? argv[1] : "all";
    const unsigned long seconds = argc > 2 ? strtoul(argv[2], nullptr, 10) : 180;
    const std::string cases = argc > 3 ? argv[3] : "every";
    if (argc > 4 || (only != "all" && only != "tests" && only != "gui") || seconds == 0 || seconds > 86400 ||
        (cases != "every" && cases != "first")) {
        fprintf(stderr, "usage: kit-runner [all|tests|gui [SECONDS [every|first]]]\n");
        return 2;
    }
    g_casePatience = seconds * 1000;
    g_folder = ProgramFolder();
    g_report = fopen((g_folder + "results.txt").c_str(), "w");
    // A case inherits nothing of ours but its output file and NUL: the tests count
    // the inheritable handles of their own process.
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);

    Say("TarvoSetup test kit\n");
    Say("Windows: %s\n", WindowsVersion().c_str());
    Say("TarvoSetup.DLL SHA-256: %s\n\n", Sha256(ContentsOf(g_folder + "TarvoSetup.DLL")).c_str());

    Tally tally;
    if (only != "gui")
        RunGoogleTestCases(tally, cases == "first");
    if (only != "tests")
        RunWindowScenes(tally);
    Say("\n%d passed, %d failed\n", tally.passed, tally.failed);
    if (g_report)
        fclose(g_report);
    return tally.failed == 0 ? 0 : 1;
}
