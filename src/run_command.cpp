#include "run_command.h"

#include "command_run.h"
#include "frame.h"
#include "line_decoder.h"

bool KnownCodePage(DWORD codePage)
{
    return codePage == TARVO_CODE_PAGE_DETECT || codePage <= CP_THREAD_ACP || codePage == kUtf16CodePage ||
           IsValidCodePage(codePage) != FALSE;
}

namespace {

// The decoder and the run, which MakeOnHeap keeps off the host's stack.
struct Workspace {
    Workspace(DWORD codePage, TarvoLineHandler onLine, OutputPause onPause, void* context, DecodedOutput& output)
        : lines(codePage, onLine, context, output), run(lines, onPause, context)
    {
    }

    LineDecoder lines;
    CommandRun run;
};

}  // namespace

unsigned long __stdcall RunCommand(const wchar_t* commandLine, const wchar_t* folder, unsigned long timeoutMs,
                                   unsigned long codePage, unsigned long flags, TarvoLineHandler onLine,
                                   void* context, wchar_t* buffer, unsigned long capacity, unsigned long* exitCode)
{
    return RunCommandPausing(commandLine, folder, timeoutMs, codePage, flags, onLine, nullptr, context, buffer,
                             capacity, exitCode);
}

unsigned long RunCommandPausing(const wchar_t* commandLine, const wchar_t* folder, unsigned long timeoutMs,
                                unsigned long codePage, unsigned long flags, TarvoLineHandler onLine,
                                OutputPause onPause, void* context, wchar_t* buffer, unsigned long capacity,
                                unsigned long* exitCode)
{
    DecodedOutput output(buffer, capacity);
    if (!commandLine || (flags & ~TARVO_RUN_WAIT_FOR_TREE) != 0 || !KnownCodePage(codePage)) {
        output.Explain(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    const auto workspace = MakeOnHeap<Workspace>(codePage, onLine, onPause, context, output);
    if (!workspace) {
        output.Explain(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    CommandRun& run = workspace->run;
    DWORD result = run.Start(commandLine, folder, timeoutMs, output);
    if (result != 0)
        return result;
    {
        const DisabledWindows disabled;
        result = run.Wait((flags & TARVO_RUN_WAIT_FOR_TREE) != 0);
    }
    run.RepostQuit();
    if (exitCode)
        *exitCode = run.ExitCode();
    return RunResult(result, output);
}

unsigned long RunResult(DWORD result, DecodedOutput& output)
{
    // A wait that failed is told as a start that failed is.
    if (result != 0 && result != TARVO_RUN_TIMED_OUT && result != TARVO_RUN_STOPPED)
        output.Explain(result);
    return result == 0 && output.Cut() ? TARVO_RUN_OUTPUT_CUT : result;
}
