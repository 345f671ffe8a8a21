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
;
; The macros extract the DLL into $PLUGINSDIR on first use and leave $0-$9 and
; $R0-$R9 alone. In an ANSI installer every string goes to the DLL in the system's
; ANSI code page (the System plug-in's type t). In a Unicode installer (Unicode true)
; TarvoShowMsg and TarvoSelectPatchFile call the wide exports ShowMsgW and
; SelectPatchFileW (type w), so that paths in any script work and a UTF-8 notice
; shows as written; TarvoExecute still hands its command line over in the ANSI code
; page (type m). TarvoRun and TarvoRunToLog hand everything over in UTF-16 in either
; kind of installer. Installer sections and functions only: an uninstaller cannot
; extract files.

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

; On the stack: the exit code. RESULT holds RunCommand's result, and becomes the exit
; code, "timeout" or "error".
!macro _TarvoRunOutcome RESULT
  ${If} ${RESULT} = 0
  ${OrIf} ${RESULT} = ${TARVO_RUN_OUTPUT_CUT}  ; the command ran to its end all the same
    Pop ${RESULT}
  ${ElseIf} ${RESULT} = ${TARVO_RUN_TIMED_OUT}
    Pop ${RESULT}
    StrCpy ${RESULT} timeout
  ${Else}
    Pop ${RESULT}
    StrCpy ${RESULT} error
  ${EndIf}
!macroend

!macro TarvoRun TIMEOUT_MS COMMAND_LINE RESULT OUTPUT
  !insertmacro _TarvoSetupExtract
  Push `${COMMAND_LINE}`
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::RunCommand(w s, p 0, i ${TIMEOUT_MS}, i ${TARVO_CODE_PAGE_DETECT}, i 0, p 0, p 0, w .s, i ${NSIS_MAX_STRLEN}, *i .s) i .s'
  Pop ${RESULT}
  Pop ${OUTPUT}
  !insertmacro _TarvoRunOutcome ${RESULT}
!macroend
!define TarvoRun "!insertmacro TarvoRun"

!ifndef NSIS_AMD64
; The System plug-in hands each call of the line handler back to the script, with
; "callbackN" in $R7 and the line in $R8; the script answers with the handler's
; result (0: go on) and resumes the call. A progress state (a line that a bare CR
; ended) shows in the status text above the list, each replacing the last, and goes
; into the list only when the output ends with it; $R6 holds it meanwhile. $R6-$R9
; are the caller's again afterwards.
!macro TarvoRunToLog TIMEOUT_MS COMMAND_LINE RESULT
  !insertmacro _TarvoSetupExtract
  Push $R9
  Push $R8
  Push $R7
  Push $R6
  Push `${COMMAND_LINE}`
  System::Get '(w .R8, i, p) isR7'
  Pop $R9
  StrCpy $R7 ""
  StrCpy $R6 ""
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::RunCommand(w s, p 0, i ${TIMEOUT_MS}, i ${TARVO_CODE_PAGE_DETECT}, i 0, k R9, p 0, w .s, i ${NSIS_MAX_STRLEN}, *i .s) i .s'
  StrCpy $R7 $R7 8
  ${DoWhile} $R7 == "callback"
    StrCpy $R7 $R8 1 -1
    ${If} $R7 == "$\r"
      StrCpy $R6 $R8 -1
      SetDetailsPrint textonly
      DetailPrint $R6
      SetDetailsPrint lastused
    ${Else}
      StrCpy $R6 ""
      DetailPrint $R8
    ${EndIf}
    Push 0
    StrCpy $R7 ""
    System::Call $R9
    StrCpy $R7 $R7 8
  ${Loop}
  System::Free $R9
  ${If} $R6 != ""
    DetailPrint $R6  ; the output ended with a state
  ${EndIf}
  Pop $R7
  Pop $R8
  ${If} $R7 <> 0
  ${AndIf} $R7 <> ${TARVO_RUN_OUTPUT_CUT}
  ${AndIf} $R7 <> ${TARVO_RUN_TIMED_OUT}
    DetailPrint $R8  ; the reason it could not run
  ${EndIf}
  !insertmacro _TarvoRunOutcome $R7
  Push $R7
  Exch 2
  Pop $R7
  Pop $R6
  Exch
  Pop $R8
  Exch
  Pop $R9
  Pop ${RESULT}
!macroend
!else
; The 64-bit System plug-in calls no script back, so the lines go to the details
; list when the command has ended, in the order written; of a run of progress states
; (lines that a bare CR ended) only what replaced them last. $R6-$R9 are the
; caller's again afterwards.
!macro TarvoRunToLog TIMEOUT_MS COMMAND_LINE RESULT
  Push $R9
  Push $R8
  Push $R7
  Push $R6
  !insertmacro TarvoRun `${TIMEOUT_MS}` `${COMMAND_LINE}` $R9 $R8
  ; $R7 walks through $R8; a line ends at a line feed or at the output's end, and a
  ; state at a CR that no line feed follows.
  StrCpy $R7 0
  ${Do}
    StrCpy $R6 $R8 1 $R7
    ${If} $R6 == "$\r"
      IntOp $R7 $R7 + 1
      StrCpy $R6 $R8 1 $R7
      ${If} $R6 != "$\n"
      ${AndIf} $R6 != ""
        StrCpy $R8 $R8 "" $R7  ; a state that what follows replaces
        StrCpy $R7 0
      ${EndIf}
    ${ElseIf} $R6 == "$\n"
    ${OrIf} $R6 == ""
      StrCpy $R6 $R8 $R7
      ${If} $R7 > 0
        StrCpy $R8 $R8 "" $R7
        StrCpy $R8 $R8 "" 1
        StrCpy $R7 $R6 1 -1
        ${If} $R7 == "$\r"
          StrCpy $R6 $R6 -1
        ${EndIf}
        DetailPrint $R6
        StrCpy $R7 0
      ${ElseIf} $R8 != ""
        DetailPrint ""  ; an empty line
        StrCpy $R8 $R8 "" 1
      ${Else}
        ${ExitDo}
      ${EndIf}
    ${Else}
      IntOp $R7 $R7 + 1
    ${EndIf}
  ${Loop}
  Pop $R6
  Pop $R7
  Pop $R8
  Exch $R9
  Pop ${RESULT}
!macroend
!endif
!define TarvoRunToLog "!insertmacro TarvoRunToLog"

!endif
