/*
 * TarvoSetup.DLL: a set-up program's helpers for running commands, showing an
 * optional notice and choosing a patch file. Every export is __stdcall, takes
 * and returns 32-bit values, and uses zero-terminated ANSI strings.
 */
#ifndef TARVO_SETUP_H
#define TARVO_SETUP_H

#ifdef TARVO_SETUP_BUILDING
#define TARVO_SETUP_API
#else
#define TARVO_SETUP_API __declspec(dllimport)
#endif

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

#ifdef __cplusplus
}
#endif

#endif /* TARVO_SETUP_H */
