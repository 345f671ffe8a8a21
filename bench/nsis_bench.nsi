; TarvoSetup's plug-in commands and its Execute (through TarvoSetup.nsh) against
; nsExec, interleaved in one installer run on its install page: Unicode, or with
; -DAMD64 a 64-bit installer with the x64 DLL. Results go to ${RESULTS} as "key
; value" lines.
;   makensis [-DAMD64] -DTARVO_SETUP_DLL=... -DCHILD=Z:\...\test-child.exe -DRESULTS=Z:\...\nsis.txt
;            -DCALLS=20 -DROUNDS=3 [-DLINE_ROUNDS=1] [-DLINE_BYTES=163840] -DOUTFILE=... nsis_bench.nsi
!ifdef AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
Name "TarvoSetup benchmark"
OutFile "${OUTFILE}"
RequestExecutionLevel user
ShowInstDetails show
AutoCloseWindow true
Page instfiles

!include LogicLib.nsh
!addincludedir "..\include"
!include "TarvoSetup.nsh"

!define LARGE 8388608
!define LARGE_CAPACITY 8388609
!ifndef LINE_ROUNDS
  !define LINE_ROUNDS 1
!endif
!ifndef LINE_BYTES
  !define LINE_BYTES 163840
!endif

Var Results
Var Start
Var Elapsed

!macro StartClock
  System::Call 'kernel32::GetTickCount() i .s'
  Pop $Start
!macroend

; Adds the milliseconds since StartClock to TOTAL.
!macro StopClock TOTAL
  System::Call 'kernel32::GetTickCount() i .s'
  Pop $Elapsed
  IntOp $Elapsed $Elapsed - $Start
  IntOp ${TOTAL} ${TOTAL} + $Elapsed
!macroend

!macro Record KEY VALUE
  FileWrite $Results "${KEY} ${VALUE}$\r$\n"
!macroend

; The details list: $List, and the number of its items into VAR.
Var List
!macro CountDetails VAR
  SendMessage $List 0x1004 0 0 ${VAR}  ; LVM_GETITEMCOUNT
!macroend

; One call that puts its lines into the emptied details list: its time added to MS,
; the lines it listed to LISTED, and its result popped into EXIT.
!macro TimeListed CALL EXIT MS LISTED
  SendMessage $List 0x1009 0 0  ; LVM_DELETEALLITEMS
  !insertmacro StartClock
  ${CALL}
  Pop ${EXIT}
  !insertmacro StopClock ${MS}
  !insertmacro CountDetails $6
  IntOp ${LISTED} ${LISTED} + $6
!macroend

Section
  FileOpen $Results "${RESULTS}" w

  ; A child that exits at once.
  StrCpy $5 "${CHILD} exit"
  StrCpy $R1 0
  StrCpy $R2 0
  StrCpy $9 0
  ${Do}
    !insertmacro StartClock
    ${TarvoExecute} $5 $0 $1
    !insertmacro StopClock $R1
    !insertmacro StartClock
    nsExec::ExecToStack $5
    Pop $0
    Pop $1
    !insertmacro StopClock $R2
    IntOp $9 $9 + 1
  ${LoopUntil} $9 >= ${CALLS}
  !insertmacro Record nsis.calls ${CALLS}
  !insertmacro Record nsis.tarvo_trivial_ms $R1
  !insertmacro Record nsis.nsexec_trivial_ms $R2

  ; The same child through the plug-in command against nsExec's.
  StrCpy $R1 0
  StrCpy $R2 0
  StrCpy $9 0
  ${Do}
    !insertmacro StartClock
    TarvoSetup::Run $5
    Pop $0
    !insertmacro StopClock $R1
    !insertmacro StartClock
    nsExec::Exec $5
    Pop $1
    !insertmacro StopClock $R2
    IntOp $9 $9 + 1
  ${LoopUntil} $9 >= ${CALLS}
  !insertmacro Record nsis.plugin_trivial_ms $R1
  !insertmacro Record nsis.plugin_trivial_exit $0
  !insertmacro Record nsis.nsexec_exec_trivial_ms $R2

  ; 8 MiB of output: Execute into a buffer that holds it all (a raw call: the macro's
  ; buffer is a string's worth), Execute into the script's own string buffer (cut),
  ; and nsExec (drains it all, keeps a string's worth).
  StrCpy $5 "${CHILD} pattern ${LARGE}"
  System::Alloc ${LARGE_CAPACITY}
  Pop $6
  StrCpy $R1 0
  StrCpy $R2 0
  StrCpy $R3 0
  StrCpy $9 0
  ${Do}
    !insertmacro StartClock
    System::Call '$PLUGINSDIR\TarvoSetup.DLL::Execute(m r5, p r6, i ${LARGE_CAPACITY}) i .r0'
    !insertmacro StopClock $R1
    System::Call 'kernel32::lstrlenA(p r6) i .r7'
    !insertmacro StartClock
    ${TarvoExecute} $5 $8 $1
    !insertmacro StopClock $R3
    !insertmacro StartClock
    nsExec::ExecToStack $5
    Pop $0
    Pop $1
    !insertmacro StopClock $R2
    IntOp $9 $9 + 1
  ${LoopUntil} $9 >= ${ROUNDS}
  System::Free $6
  !insertmacro Record nsis.rounds ${ROUNDS}
  !insertmacro Record nsis.tarvo_large_ms $R1
  !insertmacro Record nsis.tarvo_large_captured $7
  !insertmacro Record nsis.tarvo_cut_ms $R3
  !insertmacro Record nsis.tarvo_cut_exit $8
  !insertmacro Record nsis.nsexec_large_ms $R2

  ; A child that leaves a process holding its output for 3 s.
  StrCpy $5 "${CHILD} grandchild 0 3000"
  StrCpy $R1 0
  !insertmacro StartClock
  ${TarvoExecute} $5 $0 $1
  !insertmacro StopClock $R1
  !insertmacro Record nsis.tarvo_grandchild_ms $R1
  !insertmacro Record nsis.tarvo_grandchild_exit $0
  Sleep 3500
  StrCpy $R2 0
  !insertmacro StartClock
  nsExec::ExecToStack $5
  Pop $0
  Pop $1
  !insertmacro StopClock $R2
  !insertmacro Record nsis.nsexec_grandchild_ms $R2
  !insertmacro Record nsis.nsexec_grandchild_exit $0
  Sleep 3500

  ; A child that reads its stdin to the end.
  StrCpy $5 "${CHILD} stdin"
  StrCpy $R1 0
  !insertmacro StartClock
  ${TarvoExecute} $5 $0 $1
  !insertmacro StopClock $R1
  !insertmacro Record nsis.tarvo_stdin_ms $R1
  !insertmacro Record nsis.tarvo_stdin_exit $0
  StrCpy $R2 0
  !insertmacro StartClock
  nsExec::ExecToStack /TIMEOUT=5000 $5
  Pop $0
  Pop $1
  !insertmacro StopClock $R2
  !insertmacro Record nsis.nsexec_stdin_ms $R2
  !insertmacro Record nsis.nsexec_stdin_exit $0

  ; 80-byte lines into the details list, each as it comes: TarvoSetup::RunToLog
  ; against nsExec::ExecToLog, on ${LINE_BYTES} bytes, since nsExec has the list
  ; painted for every line; then TarvoSetup::RunToLog alone on 8 MiB. The lines are
  ; counted back from the list, which is emptied before each run.
  FindWindow $List "#32770" "" $HWNDPARENT
  GetDlgItem $List $List 1016
  StrCpy $5 "${CHILD} lines ${LINE_BYTES}"
  StrCpy $R1 0
  StrCpy $R2 0
  StrCpy $R3 0
  StrCpy $R4 0
  StrCpy $9 0
  ${Do}
    !insertmacro TimeListed "TarvoSetup::RunToLog $5" $0 $R1 $R3
    !insertmacro TimeListed "nsExec::ExecToLog $5" $1 $R2 $R4
    IntOp $9 $9 + 1
  ${LoopUntil} $9 >= ${LINE_ROUNDS}
  !insertmacro Record nsis.line_rounds ${LINE_ROUNDS}
  !insertmacro Record nsis.line_bytes ${LINE_BYTES}
  !insertmacro Record nsis.tarvo_lines_ms $R1
  !insertmacro Record nsis.tarvo_lines_exit $0
  !insertmacro Record nsis.tarvo_lines_listed $R3
  !insertmacro Record nsis.nsexec_lines_ms $R2
  !insertmacro Record nsis.nsexec_lines_exit $1
  !insertmacro Record nsis.nsexec_lines_listed $R4

  ; The same lines with the bar showing each line's percentage (/PROGRESS), against
  ; none, interleaved over ${ROUNDS} rounds.
  StrCpy $R5 0
  StrCpy $R6 0
  StrCpy $R7 0
  StrCpy $R8 0
  StrCpy $9 0
  ${Do}
    !insertmacro TimeListed "TarvoSetup::RunToLog /PROGRESS $5" $7 $R5 $R6
    !insertmacro TimeListed "TarvoSetup::RunToLog $5" $0 $R7 $R8
    IntOp $9 $9 + 1
  ${LoopUntil} $9 >= ${ROUNDS}
  !insertmacro Record nsis.tarvo_progress_lines_ms $R5
  !insertmacro Record nsis.tarvo_progress_lines_exit $7
  !insertmacro Record nsis.tarvo_progress_lines_listed $R6
  !insertmacro Record nsis.tarvo_plain_lines_ms $R7
  !insertmacro Record nsis.tarvo_plain_lines_listed $R8

  StrCpy $5 "${CHILD} lines ${LARGE}"
  StrCpy $R1 0
  StrCpy $R2 0
  !insertmacro TimeListed "TarvoSetup::RunToLog $5" $0 $R1 $R2
  SendMessage $List 0x1009 0 0
  !insertmacro Record nsis.tarvo_large_lines_ms $R1
  !insertmacro Record nsis.tarvo_large_lines_exit $0
  !insertmacro Record nsis.tarvo_large_lines_listed $R2

  FileClose $Results
SectionEnd
