; The ANSI installer that installer_test.sh builds and runs: every plug-in command
; and macro of TarvoSetup in an ANSI installer and its uninstaller, each result
; written to tarvo-results.txt beside it (tarvo-uninstall-results.txt for the
; uninstaller), with record_details.nsh for what the details list shows.
;   makensis -DTARVO_SETUP_DLL=...\TarvoSetup.DLL -DTARVO_TOOL=...\test-child.exe
;            -DTARVO_RECORD_DETAILS=record_details.nsh -DOUTFILE=setup.exe check_ansi.nsi
Unicode false
Name "Tarvo TarvoSetup example"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$TEMP\TarvoExample"
ShowInstDetails show
AutoCloseWindow true
Page instfiles

!addincludedir "..\..\include"
!include "TarvoSetup.nsh"

Var Results

!macro Record LINE
  FileWrite $Results "${LINE}$\r$\n"
!macroend

!ifdef TARVO_RECORD_DETAILS
  !include "${TARVO_RECORD_DETAILS}"
!endif

Section "Example"
  FileOpen $Results "$EXEDIR\tarvo-results.txt" w

  InitPluginsDir
  File "/oname=$PLUGINSDIR\tarvo-tool.exe" "${TARVO_TOOL}"
  !insertmacro Record "pluginsdir=$PLUGINSDIR"

  ; A long step that needs none of the files runs while they are copied. Start goes
  ; on at once and pushes the run's number, or "error" when it could not start.
  ; WaitToLog puts the lines that came meanwhile into the details list, then the rest
  ; as they come, and pushes what RunToLog pushes. A run still going when the
  ; installer ends is ended then, with everything it started.
  TarvoSetup::Start /TIMEOUT=60000 '"$PLUGINSDIR\tarvo-tool.exe" count 3'
  Pop $R0
  File "/oname=$PLUGINSDIR\release-notes.txt" "..\..\examples\release-notes.txt"
  TarvoSetup::WaitToLog $R0
  Pop $0
  !insertmacro Record "waited=$R0 $0"

  ; The plug-in commands. Each pushes the exit code, "timeout" when its limit
  ; (/TIMEOUT=MS) ended the command and everything it started, or "error" when it
  ; could not start. RunToStack pushes the output first; RunToLog puts each line into
  ; the details list as it comes.
  TarvoSetup::Run '"$PLUGINSDIR\tarvo-tool.exe" echo quiet 5'
  Pop $2
  TarvoSetup::RunToStack /TIMEOUT=60000 '"$PLUGINSDIR\tarvo-tool.exe" echo tarvo-stack 4'
  Pop $0  ; the result, then the output
  Pop $1
  TarvoSetup::RunToLog '"$PLUGINSDIR\tarvo-tool.exe" interleave'
  Pop $3
  !insertmacro Record "run=$2"
  !insertmacro Record "stack=$0 $1"
  !insertmacro Record "tolog=$3"

  ; A tool that redraws its progress on one line with bare CRs, as download and
  ; unpack tools do, shows each state in the details in place of the one before.
  TarvoSetup::RunToLog /TIMEOUT=60000 '"$PLUGINSDIR\tarvo-tool.exe" progress 300'
  Pop $0
  !insertmacro Record "states=$0"

  ; A command that runs longer than it may is ended after its limit, with every
  ; process it started. The milliseconds it took go to the results, for the tests.
  System::Call 'kernel32::GetTickCount() i .r5'
  TarvoSetup::RunToStack /TIMEOUT=3000 '"$PLUGINSDIR\tarvo-tool.exe" tree 2 60000'
  Pop $0
  Pop $1
  System::Call 'kernel32::GetTickCount() i .r6'
  IntOp $5 $6 - $5
  !insertmacro Record "limit=$0 $5 $1"

  ; /WAITTREE waits for what the command started as well ("grandchild 6 1500" leaves
  ; a process that ends 1.5 s later).
  System::Call 'kernel32::GetTickCount() i .r5'
  TarvoSetup::Run /WAITTREE '"$PLUGINSDIR\tarvo-tool.exe" grandchild 6 1500'
  Pop $0
  System::Call 'kernel32::GetTickCount() i .r6'
  IntOp $5 $6 - $5
  !insertmacro Record "waittree=$0 $5"

  ; A mistake in the call is an "error" too, with the reason in the details.
  TarvoSetup::Run /SOON '"$PLUGINSDIR\tarvo-tool.exe" exit'
  Pop $0
  !insertmacro Record "option=$0"
  !ifdef TARVO_RECORD_DETAILS
    Call RecordBareName
  !endif

  ; The macros. $0 = the exit code, or -1; $1 = the output, or the reason it could
  ; not run. The full path: a cmd.exe in the installer's own folder must not be the
  ; one run.
  ${TarvoExecute} '"$SYSDIR\cmd.exe" /c echo tarvo-check & exit 7' $0 $1
  DetailPrint "Execute returned $0: $1"
  ${If} $0 == 7
    !insertmacro Record "execute=seven"
  ${Else}
    !insertmacro Record "execute=$0"
  ${EndIf}
  !insertmacro Record "output=$1"

  ; A failure comes back as -1 with the system's explanation.
  ${TarvoExecute} '"$EXEDIR\no-such-tool.exe"' $0 $1
  !insertmacro Record "missing=$0 $1"

  ; TarvoRun and TarvoRunToLog take their arguments from any register: $R7 and $R9
  ; here, as the caller's own.
  StrCpy $R7 60000
  StrCpy $R9 '"$PLUGINSDIR\tarvo-tool.exe" echo registers 3'
  ${TarvoRunToLog} $R7 $R9 $R8
  !insertmacro Record "registers=$R8 $R7 $R9"

  ; An absent notice is a quiet 0.
  ${TarvoShowMsg} "$EXEDIR\no-such-notice.txt" "Notice" $0
  !insertmacro Record "absent=$0"

  ${IfNot} ${Silent}
    FileOpen $2 "$PLUGINSDIR\notes.txt" w
    FileWrite $2 "Welcome to Tarvo.$\r$\nThis notice came from the installer."
    FileClose $2
    ${TarvoShowMsg} "$PLUGINSDIR\notes.txt" "Tarvo release notes" $0
    !insertmacro Record "notice=$0"

    ; $3 gives the start name and receives the chosen file's full path.
    StrCpy $3 ""
    ${TarvoSelectPatchFile} $3 $4
    !insertmacro Record "pick=$4 $3"

    !ifdef TARVO_RECORD_DETAILS
      Call RecordDetails
    !endif
  ${EndIf}

  ; A long step shows its progress in the page's bar (/PROGRESS) and offers a Cancel
  ; button that asks first (/CANCEL, or /CANCEL=question): "cancel" when the user
  ; stopped it, with everything it started.
  TarvoSetup::RunToLog /PROGRESS /CANCEL /TIMEOUT=600000 '"$PLUGINSDIR\tarvo-tool.exe" draw curl 6 400'
  Pop $0
  ${If} $0 == cancel
    DetailPrint "The download was cancelled."
  ${EndIf}
  !insertmacro Record "withprogress=$0"

  !ifdef TARVO_RECORD_DETAILS
    ${IfNot} ${Silent}
      Call RecordCancelledRun
    ${EndIf}
    Call RecordUnwaitedRuns
  !endif
  FileClose $Results
  WriteUninstaller "$EXEDIR\uninstall.exe"
SectionEnd

; An uninstaller runs commands with the plug-in commands as the installer does.
Section "Uninstall"
  FileOpen $Results "$EXEDIR\tarvo-uninstall-results.txt" w
  InitPluginsDir
  !insertmacro Record "pluginsdir=$PLUGINSDIR"
  TarvoSetup::Run '"$SYSDIR\cmd.exe" /c exit 9'
  Pop $0
  !insertmacro Record "uninstall=$0"
  TarvoSetup::Start '"$SYSDIR\cmd.exe" /c exit 10'
  Pop $1
  TarvoSetup::Wait $1
  Pop $0
  !insertmacro Record "uninstall-wait=$0"
  FileClose $Results
  Delete "$EXEDIR\uninstall.exe"
SectionEnd
