#pragma once

#include "command_run.h"
#include "tarvo_setup.h"

// Whether RunCommand and StartCommand take the code page.
bool KnownCodePage(DWORD codePage);

// The result of a run that started and ended with result (CommandRun::Wait's):
// TARVO_RUN_OUTPUT_CUT for a whole run whose output did not fit, and a failed wait's
// reason in output.
unsigned long RunResult(DWORD result, DecodedOutput& output);

// RunCommand for the library's own commands, which are also told of every pause in
// the output (onPause may be null).
unsigned long RunCommandPausing(const wchar_t* commandLine, const wchar_t* folder, unsigned long timeoutMs,
                                unsigned long codePage, unsigned long flags, TarvoLineHandler onLine,
                                OutputPause onPause, void* context, wchar_t* buffer, unsigned long capacity,
                                unsigned long* exitCode);
