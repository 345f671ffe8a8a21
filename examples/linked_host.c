/* A C host, linked with TarvoSetup.DLL through its import library, that runs its
   product's tool as an installer does: a step started first and waited for later, a
   command with a limit whose lines it prints as they come, a long step whose
   percentage it shows and that Ctrl+C cancels, then the release notes and a patch
   file.
       tarvo-linked TOOL [RELEASE-NOTES]
   TOOL stands for your product's own command-line tool, by its full path. With
   RELEASE-NOTES it shows them, then lets the user choose a patch file. */
#include <windows.h>
#include <stdio.h>

#include "tarvo_setup.h"

static unsigned long g_download;  /* the run that Ctrl+C stops */

static int __stdcall PrintLine(const wchar_t *line, unsigned long length, void *context)
{
    (void)context;
    /* A progress state ends in a CR: it is shown in place of the one before. */
    printf(length > 0 && line[length - 1] == L'\r' ? "%ls" : "%ls\n", line);
    return 0;
}

static int __stdcall PrintPercentage(const wchar_t *line, unsigned long length, void *context)
{
    unsigned long tenths = ReadPercentage(line, length);
    (void)context;
    if (tenths != TARVO_NO_PERCENTAGE)
        printf("\rdownloading: %lu.%lu%%", tenths / 10, tenths % 10);
    return 0;
}

static BOOL WINAPI StopDownload(DWORD event)
{
    (void)event;
    StopCommand(g_download);
    return TRUE;
}

/* Builds "\"TOOL\" ARGUMENTS", the program quoted and by its full path. */
static const wchar_t *Command(const wchar_t *tool, const wchar_t *arguments)
{
    static wchar_t line[MAX_PATH + 64];
    _snwprintf(line, MAX_PATH + 64, L"\"%ls\" %ls", tool, arguments);
    line[MAX_PATH + 63] = L'\0';
    return line;
}

int wmain(int argc, wchar_t **argv)
{
    wchar_t output[4096], patch[MAX_PATH] = L"";
    unsigned long warmup, result, exitCode = 0;
    int chosen;

    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: tarvo-linked TOOL [RELEASE-NOTES]\n");
        return 2;
    }
    /* A step that needs nothing of what follows runs meanwhile. */
    result = StartCommand(Command(argv[1], L"count 3"), NULL, 600000, TARVO_CODE_PAGE_DETECT, 0, output, 4096,
                          &warmup);
    if (result != 0) {
        printf("the tool could not start (%lu): %ls", result, output);
        return 1;
    }

    /* A limit after which the command is ended with everything it started. */
    result = RunCommand(Command(argv[1], L"interleave"), NULL, 60000, TARVO_CODE_PAGE_DETECT, 0, PrintLine, NULL,
                        output, 4096, &exitCode);
    if (result == TARVO_RUN_TIMED_OUT)
        printf("the tool took too long\n");
    else if (result != 0 && result != TARVO_RUN_OUTPUT_CUT)
        printf("the tool could not run (%lu): %ls", result, output);

    /* The lines of the first step, which came while the other one ran. */
    result = WaitCommand(warmup, TARVO_WAIT_INFINITE, PrintLine, NULL, output, 4096, &exitCode);
    CloseCommand(warmup);
    printf("the first step ended with %lu, exit code %lu\n", result, exitCode);

    /* A long step: its percentage as it comes; Ctrl+C stops it with its tree. */
    if (StartCommand(Command(argv[1], L"draw curl 6 400"), NULL, 600000, TARVO_CODE_PAGE_DETECT, 0, output, 4096,
                     &g_download) == 0) {
        SetConsoleCtrlHandler(StopDownload, TRUE);
        result = WaitCommand(g_download, TARVO_WAIT_INFINITE, PrintPercentage, NULL, output, 4096, &exitCode);
        SetConsoleCtrlHandler(StopDownload, FALSE);
        CloseCommand(g_download);
        printf(result == TARVO_RUN_STOPPED ? "\nthe download was cancelled\n" : "\nthe download ended\n");
    }

    if (argc == 3) {
        ShowMsgW(argv[2], L"Tarvo release notes");  /* an absent file shows nothing */
        if (SelectPatchFileW(&chosen, patch, MAX_PATH))
            printf("patch file: %ls\n", patch);
    }
    return 0;
}
