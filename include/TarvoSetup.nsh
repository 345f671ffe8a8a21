; TarvoSetup.nsh: TarvoSetup.DLL for NSIS installers, ANSI or Unicode.
;
;   !define TARVO_SETUP_DLL "path\to\TarvoSetup.DLL"  ; optional: where makensis finds it
;   !include "TarvoSetup.nsh"
;
;   ${TarvoExecute} COMMAND_LINE EXIT_CODE OUTPUT
;       Runs COMMAND_LINE hidden and waits for it. EXIT_CODE receives its exit code, or
;       -1 when it could not run; OUTPUT receives what it wrote (stdout and stderr, at
;       most ${NSIS_MAX_STRLEN} - 1 bytes), or the reason it could not run. Give the
;       program's full path: "$SYSDIR\cmd.exe" /c ..., never a bare cmd.
;   ${TarvoShowMsg} FILE CAPTION RESULT
;       Shows the text FILE, if it exists and is not empty, in a box titled CAPTION.
;       RESULT: 0, or -1 after a warning box said why FILE could not be read.
;   ${TarvoSelectPatchFile} PATH RESULT
;       Lets the user choose a patch file (*.z). PATH gives the start name (or "")
;       and receives the full path; RESULT is non-zero when a file was chosen.
;
; The macros extract the DLL into $PLUGINSDIR on first use and leave $0-$9 and
; $R0-$R9 alone. In an ANSI installer every string goes to the DLL in the system's
; ANSI code page (the System plug-in's type t). In a Unicode installer (Unicode true)
; TarvoShowMsg and TarvoSelectPatchFile call the wide exports ShowMsgW and
; SelectPatchFileW (type w), so that paths in any script work and a UTF-8 notice
; shows as written; TarvoExecute still hands its command line over in the ANSI code
; page (type m). Installer sections and functions only: an uninstaller cannot
; extract files.

!ifndef TARVO_SETUP_NSH
!define TARVO_SETUP_NSH

!include LogicLib.nsh

!ifndef TARVO_SETUP_DLL
  !define TARVO_SETUP_DLL "TarvoSetup.DLL"
!endif

!ifdef NSIS_UNICODE
  !define TARVO_SETUP_STR m
  !define TARVO_SETUP_SHOW_MSG "ShowMsgW(w s, w s)"
  ; The path buffer is ${NSIS_MAX_STRLEN} characters, as the DLL is told.
  !define TARVO_SETUP_SELECT_PATCH_FILE "SelectPatchFileW(*i 0 s, w s s, i ${NSIS_MAX_STRLEN})"
!else
  !define TARVO_SETUP_STR t
  !define TARVO_SETUP_SHOW_MSG "ShowMsg(t s, t s)"
  ; The path buffer is ${NSIS_MAX_STRLEN} bytes, more than the 255 the DLL needs.
  !define TARVO_SETUP_SELECT_PATCH_FILE "SelectPatchFile(*i 0 s, t s s)"
!endif

!macro _TarvoSetupExtract
  InitPluginsDir
  ${IfNot} ${FileExists} "$PLUGINSDIR\TarvoSetup.DLL"
    File "/oname=$PLUGINSDIR\TarvoSetup.DLL" "${TARVO_SETUP_DLL}"
  ${EndIf}
!macroend

; The System plug-in pushes the outputs in reverse order: the result is popped first.
!macro TarvoExecute COMMAND_LINE EXIT_CODE OUTPUT
  !insertmacro _TarvoSetupExtract
  Push `${COMMAND_LINE}`
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::Execute(${TARVO_SETUP_STR} s, ${TARVO_SETUP_STR} .s, i ${NSIS_MAX_STRLEN}) i .s'
  Pop ${EXIT_CODE}
  Pop ${OUTPUT}
!macroend
!define TarvoExecute "!insertmacro TarvoExecute"

!macro TarvoShowMsg FILE CAPTION RESULT
  !insertmacro _TarvoSetupExtract
  Push `${CAPTION}`
  Push `${FILE}`
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::${TARVO_SETUP_SHOW_MSG} i .s'
  Pop ${RESULT}
!macroend
!define TarvoShowMsg "!insertmacro TarvoShowMsg"

; RESULT is the value the DLL stores through its first argument, which is also what
; it returns.
!macro TarvoSelectPatchFile PATH RESULT
  !insertmacro _TarvoSetupExtract
  Push `${PATH}`
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::${TARVO_SETUP_SELECT_PATCH_FILE}'
  Pop ${RESULT}
  Pop ${PATH}
!macroend
!define TarvoSelectPatchFile "!insertmacro TarvoSelectPatchFile"

!endif
