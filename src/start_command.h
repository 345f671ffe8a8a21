#pragma once

#include "command_run.h"
#include "tarvo_setup.h"

// WaitCommand for the library's own commands, which are also told of every pause in
// the output (onPause may be null).
unsigned long WaitCommandPausing(unsigned long command, unsigned long waitMs, TarvoLineHandler onLine,
                                 OutputPause onPause, void* context, wchar_t* buffer, unsigned long capacity,
                                 unsigned long* exitCode);

// Ends every open run with its tree and closes it, for a host that is about to free
// the DLL and delete its file.
void CloseAllCommands();
