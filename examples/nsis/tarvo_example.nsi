; An ANSI installer that uses TarvoSetup.DLL through TarvoSetup.nsh.
;   makensis -DTARVO_SETUP_DLL=path\to\TarvoSetup.DLL -DTARVO_TOOL=path\to\tool.exe
;            -DOUTFILE=tarvo-example.exe tarvo_example.nsi
; TARVO_TOOL stands for the product's own tool; "tool.exe tree 2 60000" starts two
; processes and waits a minute, "tool.exe interleave" writes six lines.
; It runs a command and uses its output and exit code, shows an optional notice
; (absent here, quietly) and the release notes, and lets the user pick a patch
; file. Each result goes to tarvo-results.txt beside the installer, for the tests.
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

Section "Example"
  FileOpen $Results "$EXEDIR\tarvo-results.txt" w

  ; $0 = the exit code, or -1; $1 = the output, or the reason it could not run.
  ; The full path: a cmd.exe in the installer's own folder must not be the one run.
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

  ; An absent notice is a quiet 0.
  ${TarvoShowMsg} "$EXEDIR\no-such-notice.txt" "Notice" $0
  !insertmacro Record "absent=$0"

  ; A command that runs longer than it may is ended after its limit, with every
  ; process it started: $0 is then "timeout". The milliseconds it took go to the
  ; results, for the tests.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\tarvo-tool.exe" "${TARVO_TOOL}"
  System::Call 'kernel32::GetTickCount() i .r5'
  ${TarvoRun} 3000 '"$PLUGINSDIR\tarvo-tool.exe" tree 2 60000' $0 $1
  System::Call 'kernel32::GetTickCount() i .r6'
  IntOp $5 $6 - $5
  !insertmacro Record "limit=$0 $5 $1"

  ; Each line of the output goes to the details list as it comes.
  ${TarvoRunToLog} 60000 '"$PLUGINSDIR\tarvo-tool.exe" interleave' $0
  !insertmacro Record "tolog=$0"

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
  ${EndIf}

  FileClose $Results
SectionEnd
