; A Unicode installer that runs its product's tool with TarvoSetup's plug-in
; commands: a step that runs while the files are copied, a command with a limit whose
; lines go to the details list, a long step with its progress and a Cancel button,
; then the release notes and a patch file. With -DAMD64 it is a 64-bit installer,
; which loads the x64 DLL.
;   makensis [-DAMD64] -DTARVO_SETUP_DLL=path\to\TarvoSetup.DLL -DTARVO_TOOL=path\to\tool.exe
;            -DOUTFILE=tarvo-setup.exe tarvo_example_unicode.nsi
; TARVO_TOOL stands for your product's own command-line tool.
!ifdef AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
Name "Tarvo"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Tarvo"
ShowInstDetails show
Page instfiles
UninstPage instfiles

!addincludedir "..\..\include"
!include "TarvoSetup.nsh"
!include "TextFunc.nsh"

Section "Tarvo"
  SetOutPath "$INSTDIR"
  File "/oname=tarvo-tool.exe" "${TARVO_TOOL}"

  ; A step that needs none of the other files runs while they are copied. Start
  ; pushes the run's number, or "error" when the command could not start.
  TarvoSetup::Start /TIMEOUT=600000 '"$INSTDIR\tarvo-tool.exe" count 3'
  Pop $R0
  File "..\release-notes.txt"
  ; WaitToLog puts the lines that came meanwhile into the details list, then the
  ; rest as they come, and pushes the exit code.
  TarvoSetup::WaitToLog $R0
  Pop $0

  ; Every command names its program by its full path, and has a limit after which
  ; it is ended with everything it started ("timeout"). Each pushes the exit code,
  ; or "error" with the reason in the details list.
  TarvoSetup::RunToLog /TIMEOUT=60000 '"$INSTDIR\tarvo-tool.exe" interleave'
  Pop $0
  ${If} $0 != 0
    Abort "Tarvo's tool failed ($0): the details list says why."
  ${EndIf}

  ; RunToStack pushes the output after the exit code, for the script to use.
  TarvoSetup::RunToStack /TIMEOUT=60000 '"$INSTDIR\tarvo-tool.exe" echo 6.0.1 0'
  Pop $0
  Pop $1
  ${TrimNewLines} $1 $1
  DetailPrint "Tarvo's tool reports version $1"

  ; A long step moves the page's bar with the percentage that the tool draws, and
  ; offers a Cancel button that asks first: "cancel" when the user stopped it.
  TarvoSetup::RunToLog /PROGRESS /CANCEL /TIMEOUT=600000 '"$INSTDIR\tarvo-tool.exe" draw curl 6 400'
  Pop $0
  ${If} $0 == cancel
    DetailPrint "The download was cancelled."
  ${EndIf}

  ${IfNot} ${Silent}
    ; Release notes saved as UTF-8, as editors save them; an absent file shows nothing.
    ${TarvoShowMsg} "$INSTDIR\release-notes.txt" "Tarvo release notes" $0
    ; $1 gives the start name and receives the chosen file's full path.
    StrCpy $1 ""
    ${TarvoSelectPatchFile} $1 $0
    ${If} $0 <> 0
      DetailPrint "Patch file: $1"
    ${EndIf}
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd

Section "Uninstall"
  ; The plug-in commands work in an uninstaller too.
  TarvoSetup::RunToLog /TIMEOUT=60000 '"$INSTDIR\tarvo-tool.exe" echo unregistered 0'
  Pop $0
  Delete "$INSTDIR\tarvo-tool.exe"
  Delete "$INSTDIR\release-notes.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
