/*
 * TarvoSetup.DLL: a set-up program's helpers for running commands, showing an
 * optional notice and choosing a patch file, for 32-bit hosts (the x86 DLL) and
 * 64-bit ones (the x64 DLL). Every export is __stdcall, which x64 code, with its one
 * calling convention, ignores. int, unsigned long and the results are 32 bits wide
 * in both; pointers are as wide as the host's. Strings are zero-terminated: ANSI,
 * or UTF-16 in the exports whose names end in W.
 */
#ifndef TARVO_SETUP_H
#define TARVO_SETUP_H

#ifdef TARVO_SETUP_BUILDING
#define TARVO_SETUP_API
#else
#define TARVO_SETUP_API __declspec(dllimport)
#endif

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Runs commandLine as a hidden child and waits for it; returns its exit code with its
   stdout and stderr in buffer (at most capacity - 1 bytes, terminated), or -1 with the
   reason in buffer. A null buffer or capacity 0 discards the output. */
TARVO_SETUP_API int __stdcall Execute(const char *commandLine, char *buffer, unsigned long capacity);

/* Shows the text file at path, if it exists and is not empty, in an information box
   titled caption; returns 0, or -1 after showing a failure in a warning box. */
TARVO_SETUP_API int __stdcall ShowMsg(const char *path, const char *caption);

/* Lets the user choose a patch file (*.z); path (255 bytes) gives the start name and
   receives the full path. Returns non-zero if a file was chosen, 0 otherwise, and
   stores the same value through result. */
TARVO_SETUP_API int __stdcall SelectPatchFile(int *result, char *path);

/* ShowMsg for a UTF-16 path and caption, in the wide box. The file's text may be
   UTF-16LE or UTF-8 with a byte-order mark, UTF-8 without one, or else ANSI. */
TARVO_SETUP_API int __stdcall ShowMsgW(const wchar_t *path, const wchar_t *caption);

/* SelectPatchFile with a UTF-16 path buffer of capacity units (at least 2; otherwise,
   or with a null path, returns 0 with no dialog). */
TARVO_SETUP_API int __stdcall SelectPatchFileW(int *result, wchar_t *path, unsigned long capacity);

/* RunCommand's codePage that has the output's code page told apart: UTF-16LE by its
   first two bytes, else UTF-8 or the OEM code page, line by line. */
#define TARVO_CODE_PAGE_DETECT 0xFFFFFFFFUL
/* RunCommand's flag to wait for every process of the tree, not the child alone. */
#define TARVO_RUN_WAIT_FOR_TREE 1UL
/* RunCommand's results besides 0 and the system's codes for what kept a command from
   starting: the command ran to its end but its output did not fit (ERROR_MORE_DATA);
   the limit ended it (ERROR_TIMEOUT); the line handler stopped it (ERROR_CANCELLED). */
#define TARVO_RUN_OUTPUT_CUT 234UL
#define TARVO_RUN_TIMED_OUT 1460UL
#define TARVO_RUN_STOPPED 1223UL

/* Called by RunCommand with each line of the output as it comes: decoded, without its
   line break (LF or CR LF), zero-terminated, length in UTF-16 units. A line that a bare
   CR ended (a progress state, which the next one redraws, as in a console) keeps its
   CR. Non-zero stops the command. */
typedef int (__stdcall *TarvoLineHandler)(const wchar_t *line, unsigned long length, void *context);

/* Runs commandLine (UTF-16, under 32,767 characters) hidden in folder (under 260
   characters; null or empty: the caller's) and waits for it, ending it and every
   process it started after timeoutMs (0 or INFINITE: no limit), whatever the calling
   thread's windows and onLine do meanwhile. The program is the first word: a full
   path, or a name looked up in the system folder, the Windows folder and PATH, never
   beside the host or in the current folder. codePage: how the output's bytes become
   text (TARVO_CODE_PAGE_DETECT: detect). flags: 0, or TARVO_RUN_WAIT_FOR_TREE.
   Returns 0; TARVO_RUN_OUTPUT_CUT when the output did not fit in buffer;
   TARVO_RUN_TIMED_OUT; TARVO_RUN_STOPPED when onLine stopped it; or the code for what
   kept it from starting (ERROR_FILE_NOT_FOUND: no program that may run), with the
   reason in buffer. */
TARVO_SETUP_API unsigned long __stdcall RunCommand(const wchar_t *commandLine, const wchar_t *folder,
                                                   unsigned long timeoutMs, unsigned long codePage,
                                                   unsigned long flags, TarvoLineHandler onLine, void *context,
                                                   wchar_t *buffer, unsigned long capacity,
                                                   unsigned long *exitCode);

/* StartCommand's flag: the waits of this run leave the calling thread's windows enabled,
   for a caller that shows a page of its own (with a Cancel button) and waits in short
   steps. */
#define TARVO_RUN_KEEP_WINDOWS_ENABLED 2UL
/* WaitCommand's result while the command still runs (STILL_ACTIVE). */
#define TARVO_RUN_STILL_RUNNING 259UL
/* WaitCommand's wait until the command ends, for hosts without windows.h's INFINITE. */
#define TARVO_WAIT_INFINITE 0xFFFFFFFFUL
/* What a run keeps for its next wait, at most: its decoded text (2 bytes a UTF-16
   unit) and 8 bytes a line. Past it the run stops reading, and the child's writes wait
   as on a full pipe, until a wait takes what is kept. */
#define TARVO_RUN_KEPT_BYTES 1048576UL
/* Runs that may be open at once in a process. */
#define TARVO_RUN_MOST_OPEN 64UL

/* Starts commandLine as RunCommand does, with the limit counting from now and holding
   whether or not anybody waits, and returns as soon as the child has started: 0 with
   the run's number in *command (small, non-zero, never given twice in a process's
   life); or RunCommand's code for what kept it from starting, with the reason in
   buffer. flags: TARVO_RUN_WAIT_FOR_TREE, TARVO_RUN_KEEP_WINDOWS_ENABLED. */
TARVO_SETUP_API unsigned long __stdcall StartCommand(const wchar_t *commandLine, const wchar_t *folder,
                                                     unsigned long timeoutMs, unsigned long codePage,
                                                     unsigned long flags, wchar_t *buffer,
                                                     unsigned long capacity, unsigned long *command);

/* Waits at most waitMs (0: only looks; TARVO_WAIT_INFINITE: until the end) for the run, handling
   the calling thread's messages meanwhile, and hands every line that came since the
   last wait to onLine, in order, with their text in buffer (as RunCommand's). Returns
   TARVO_RUN_STILL_RUNNING while the command runs, else RunCommand's result, as often
   as asked, with the exit code in *exitCode; ERROR_INVALID_HANDLE for a number that
   is not open; ERROR_BUSY for a wait on a run that is being waited for already. */
TARVO_SETUP_API unsigned long __stdcall WaitCommand(unsigned long command, unsigned long waitMs,
                                                    TarvoLineHandler onLine, void *context, wchar_t *buffer,
                                                    unsigned long capacity, unsigned long *exitCode);

/* Ends the run's tree; its next wait gives TARVO_RUN_STOPPED (a run that had ended by
   itself keeps its result). 0, or ERROR_INVALID_HANDLE. */
TARVO_SETUP_API unsigned long __stdcall StopCommand(unsigned long command);

/* Releases the run, ending its tree first if it still runs; the number is then no
   longer open. 0, ERROR_INVALID_HANDLE, or ERROR_BUSY while a wait on it is under way
   (from its line handler, or a message handled during the wait). */
TARVO_SETUP_API unsigned long __stdcall CloseCommand(unsigned long command);

/* ReadPercentage's result for a line that shows no percentage. */
#define TARVO_NO_PERCENTAGE 0xFFFFFFFFUL

/* The percentage that a line or a progress state shows (length units of line, as the
   line handler gets them), in tenths from 0 to 1000: the last number of up to three
   digits, with or without a point and decimals, that a % follows and that is at most
   100, as curl's "48.8%", robocopy's "45%", DISM's "[== 60.2% ]" or 7-Zip's
   "86% 5048 - file"; else TARVO_NO_PERCENTAGE. */
TARVO_SETUP_API unsigned long __stdcall ReadPercentage(const wchar_t *line, unsigned long length);

/* A DLL custom action of Windows Installer packages (type 1, from the Binary table):
   runs the command that its settings name, as RunCommand does, with each line in the
   installer's log and the user's Cancel ending the tree. The settings come from
   CustomActionData in a deferred action and from the property TarvoRunCommand in an
   immediate one: options (/TIMEOUT=MS, /SUCCESS=CODE,CODE..., /PROGRESS, /HIDE,
   /DIR=FOLDER, /WAITTREE), then the command line. Returns 0 (ERROR_SUCCESS), 1602
   (ERROR_INSTALL_USEREXIT) when the user cancelled, or 1603 (ERROR_INSTALL_FAILURE)
   for bad settings, a command that could not start, a limit reached or an exit code
   that is not a success, with the reason in the log. install is the MSIHANDLE. */
TARVO_SETUP_API unsigned int __stdcall MsiRunCommand(unsigned long install);

#ifdef __cplusplus
}
#endif

#endif /* TARVO_SETUP_H */
