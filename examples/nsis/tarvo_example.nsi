; An ANSI installer that uses TarvoSetup.DLL through TarvoSetup.nsh.
;   makensis -DTARVO_SETUP_DLL=path\to\TarvoSetup.DLL -DOUTFILE=tarvo-example.exe tarvo_example.nsi
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
