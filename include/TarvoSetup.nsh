; TarvoSetup.nsh: TarvoSetup.DLL for NSIS installers: ANSI, Unicode, or 64-bit
; (Target amd64-unicode), which takes the x64 DLL.
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
;   ${TarvoRun} TIMEOUT_MS COMMAND_LINE RESULT OUTPUT
;       Runs COMMAND_LINE hidden in the current folder (SetOutPath) and waits for it,
;       at most TIMEOUT_MS milliseconds (0: no limit); then it is ended with every
;       process it started. RESULT receives its exit code, or "timeout", or "error"
;       when it could not run; OUTPUT what it wrote, decoded (UTF-8, the OEM code page
;       or UTF-16, told apart by itself), at most ${NSIS_MAX_STRLEN} - 1 characters,
;       or the reason it could not run.
;   ${TarvoRunToLog} TIMEOUT_MS COMMAND_LINE RESULT
;       The same, with each line of the output put in the details list as it comes
;       (the reason too, when it could not run); RESULT as for TarvoRun.
;   ${TarvoStart} TIMEOUT_MS COMMAND_LINE RUN
;       Starts COMMAND_LINE hidden in the current folder and goes on at once. RUN
;       receives the run's number, or "error" when it could not start (the reason
;       goes to the details list). The limit counts from now, whether or not anybody
;       waits; what the command writes meanwhile is kept for the wait.
;   ${TarvoWait} RUN RESULT OUTPUT
;       Waits for the run to end and closes it; RESULT and OUTPUT as for TarvoRun.
;   ${TarvoWaitToLog} RUN RESULT
;       The same, with the lines that came meanwhile, then the rest as they come, in
;       the details list; RESULT as for TarvoRun.
;   ${TarvoStop} RUN
;       Ends the run with every process it started; its wait then gives "error".
;   A run still going when the installer ends is ended then, with its tree.
;
; The plug-in commands also take /PROGRESS (RunToLog, WaitToLog: the install page's
; bar shows the command's percentage) and /CANCEL or /CANCEL=question (a Cancel
; button that asks, then ends the command's tree; the command pushes "cancel").
;
; TarvoRun, TarvoRunToLog and the run macros are the plug-in commands
; TarvoSetup::RunToStack, RunToLog, Start, WaitToStack, WaitToLog and Stop, which
; work in uninstallers too; this file tells makensis
; where they are (the folder of TARVO_SETUP_DLL). The other macros call the DLL
; through the System plug-in: they extract a copy of it into $PLUGINSDIR on first
; use (TarvoSetupMacros.DLL) and load it for the call only, so that NSIS can delete
; the folder when the installer ends, and they work in installer sections and functions only (an uninstaller
; cannot extract files). No macro changes $0-$9 or $R0-$R9 but the ones it is
; given. In an ANSI installer every string goes to the DLL in the system's ANSI code
; page (the System plug-in's type t). In a Unicode installer (Unicode true)
; TarvoShowMsg and TarvoSelectPatchFile call the wide exports ShowMsgW and
; SelectPatchFileW (type w), so that paths in any script work and a UTF-8 notice
; shows as written; TarvoExecute still hands its command line over in the ANSI code
; page (type m).

!ifndef TARVO_SETUP_NSH
!define TARVO_SETUP_NSH

!include LogicLib.nsh

; By default the DLL of the installer's own width, where the distribution keeps it
; beside Include\ (x86\ or x64\: a 64-bit installer cannot load a 32-bit DLL), else
; TarvoSetup.DLL beside the script.
!ifndef TARVO_SETUP_DLL
  !ifdef NSIS_AMD64
    !define _TARVO_SETUP_ARCH x64
  !else
    !define _TARVO_SETUP_ARCH x86
  !endif
  !if /FileExists "${__FILEDIR__}\..\${_TARVO_SETUP_ARCH}\TarvoSetup.DLL"
    !define TARVO_SETUP_DLL "${__FILEDIR__}\..\${_TARVO_SETUP_ARCH}\TarvoSetup.DLL"
  !else
    !define TARVO_SETUP_DLL "TarvoSetup.DLL"
  !endif
!endif

; The plug-in commands come from the folder of TARVO_SETUP_DLL, which makensis is
; told of here; the installer's width picks the DLL of its machine. A DLL renamed
; offers no TarvoSetup:: commands: its script adds the folder of one that is not.
!searchparse /ignorecase /noerrors "${TARVO_SETUP_DLL}" "" _TARVO_SETUP_DIR "TarvoSetup.DLL"
!if "${_TARVO_SETUP_DIR}" == ""
  !addplugindir "."
!else if "${_TARVO_SETUP_DIR}" != "${TARVO_SETUP_DLL}"
  !addplugindir "${_TARVO_SETUP_DIR}"
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

; RunCommand's numbers, as tarvo_setup.h names them.
!define TARVO_CODE_PAGE_DETECT 0xFFFFFFFF  ; the output's code page told apart
!define TARVO_RUN_WAIT_FOR_TREE 1          ; a flag: wait for every process of the tree
!define TARVO_RUN_OUTPUT_CUT 234           ; ran to its end; the output did not fit
!define TARVO_RUN_TIMED_OUT 1460           ; the limit ended it
!define TARVO_RUN_STOPPED 1223             ; the line handler stopped it
!define TARVO_RUN_KEEP_WINDOWS_ENABLED 2   ; StartCommand's flag: its waits leave the windows enabled
!define TARVO_RUN_STILL_RUNNING 259        ; WaitCommand: the command still runs
!define TARVO_WAIT_INFINITE 0xFFFFFFFF     ; WaitCommand's wait: until the command ends (INFINITE)
!define TARVO_RUN_KEPT_BYTES 1048576       ; what a run keeps for its next wait, at most
!define TARVO_RUN_MOST_OPEN 64             ; runs open at once, at most
!define TARVO_NO_PERCENTAGE 0xFFFFFFFF     ; ReadPercentage: the line shows no percentage

; The macros call a copy of the DLL of their own, loaded for each call only (?u). The
; plug-in commands' DLL, which NSIS keeps loaded while runs go on, is another module:
; ?u on it would let go of the reference that NSIS holds, and free it under its runs.
!macro _TarvoSetupExtract
  InitPluginsDir
  ${IfNot} ${FileExists} "$PLUGINSDIR\TarvoSetupMacros.DLL"
    File "/oname=$PLUGINSDIR\TarvoSetupMacros.DLL" "${TARVO_SETUP_DLL}"
  ${EndIf}
!macroend

; The System plug-in pushes the outputs in reverse order: the result is popped first.
!macro TarvoExecute COMMAND_LINE EXIT_CODE OUTPUT
  !insertmacro _TarvoSetupExtract
  Push `${COMMAND_LINE}`
  System::Call '$PLUGINSDIR\TarvoSetupMacros.DLL::Execute(${TARVO_SETUP_STR} s, ${TARVO_SETUP_STR} .s, i ${NSIS_MAX_STRLEN}) i .s ?u'
  Pop ${EXIT_CODE}
  Pop ${OUTPUT}
!macroend
!define TarvoExecute "!insertmacro TarvoExecute"

!macro TarvoShowMsg FILE CAPTION RESULT
  !insertmacro _TarvoSetupExtract
  Push `${CAPTION}`
  Push `${FILE}`
  System::Call '$PLUGINSDIR\TarvoSetupMacros.DLL::${TARVO_SETUP_SHOW_MSG} i .s ?u'
  Pop ${RESULT}
!macroend
!define TarvoShowMsg "!insertmacro TarvoShowMsg"

; RESULT is the value the DLL stores through its first argument, which is also what
; it returns.
!macro TarvoSelectPatchFile PATH RESULT
  !insertmacro _TarvoSetupExtract
  Push `${PATH}`
  System::Call '$PLUGINSDIR\TarvoSetupMacros.DLL::${TARVO_SETUP_SELECT_PATCH_FILE} ?u'
  Pop ${RESULT}
  Pop ${PATH}
!macroend
!define TarvoSelectPatchFile "!insertmacro TarvoSelectPatchFile"

!macro TarvoRun TIMEOUT_MS COMMAND_LINE RESULT OUTPUT
  TarvoSetup::RunToStack `/TIMEOUT=${TIMEOUT_MS}` `${COMMAND_LINE}`
  Pop ${RESULT}
  Pop ${OUTPUT}
!macroend
!define TarvoRun "!insertmacro TarvoRun"

!macro TarvoRunToLog TIMEOUT_MS COMMAND_LINE RESULT
  TarvoSetup::RunToLog `/TIMEOUT=${TIMEOUT_MS}` `${COMMAND_LINE}`
  Pop ${RESULT}
!macroend
!define TarvoRunToLog "!insertmacro TarvoRunToLog"

!macro TarvoStart TIMEOUT_MS COMMAND_LINE RUN
  TarvoSetup::Start `/TIMEOUT=${TIMEOUT_MS}` `${COMMAND_LINE}`
  Pop ${RUN}
!macroend
!define TarvoStart "!insertmacro TarvoStart"

!macro TarvoWait RUN RESULT OUTPUT
  TarvoSetup::WaitToStack `${RUN}`
  Pop ${RESULT}
  Pop ${OUTPUT}
!macroend
!define TarvoWait "!insertmacro TarvoWait"

!macro TarvoWaitToLog RUN RESULT
  TarvoSetup::WaitToLog `${RUN}`
  Pop ${RESULT}
!macroend
!define TarvoWaitToLog "!insertmacro TarvoWaitToLog"

!macro TarvoStop RUN
  TarvoSetup::Stop `${RUN}`
!macroend
!define TarvoStop "!insertmacro TarvoStop"

!endif
