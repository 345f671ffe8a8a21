; An installer that uses TarvoSetup.DLL through the System plugin.
;   makensis -DTARVO_DLL=path\to\TarvoSetup.DLL -DOUTFILE=tarvo-example.exe tarvo_example.nsi
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

!include LogicLib.nsh

Var Results

!macro Record LINE
  FileWrite $Results "${LINE}$\r$\n"
!macroend

Section "Example"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\TarvoSetup.DLL" "${TARVO_DLL}"
  FileOpen $Results "$EXEDIR\tarvo-results.txt" w

  ; Execute(commandLine, buffer, capacity): $0 = exit code or -1, $1 = output or reason.
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::Execute(t "cmd /c echo tarvo-check & exit 7", t .r1, i ${NSIS_MAX_STRLEN}) i .r0'
  DetailPrint "Execute returned $0: $1"
  ${If} $0 == 7
    !insertmacro Record "execute=seven"
  ${Else}
    !insertmacro Record "execute=$0"
  ${EndIf}
  !insertmacro Record "output=$1"

  ; A failure comes back as -1 with the system's explanation in the buffer.
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::Execute(t "no-such-tool.exe", t .r1, i ${NSIS_MAX_STRLEN}) i .r0'
  !insertmacro Record "missing=$0 $1"

  ; ShowMsg(path, caption): an absent notice is a quiet 0.
  System::Call '$PLUGINSDIR\TarvoSetup.DLL::ShowMsg(t "$EXEDIR\no-such-notice.txt", t "Notice") i .r0'
  !insertmacro Record "absent=$0"

  ${IfNot} ${Silent}
    FileOpen $2 "$PLUGINSDIR\notes.txt" w
    FileWrite $2 "Welcome to Tarvo.$\r$\nThis notice came from the installer."
    FileClose $2
    System::Call '$PLUGINSDIR\TarvoSetup.DLL::ShowMsg(t "$PLUGINSDIR\notes.txt", t "Tarvo release notes") i .r0'
    !insertmacro Record "notice=$0"

    ; SelectPatchFile(result, path): path is in and out, at least 255 bytes.
    StrCpy $3 ""
    System::Call '$PLUGINSDIR\TarvoSetup.DLL::SelectPatchFile(*i 0 r4, t r3 r3) i .r0'
    !insertmacro Record "pick=$0 $4 $3"
  ${EndIf}

  FileClose $Results
SectionEnd
