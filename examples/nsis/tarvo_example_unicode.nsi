; A Unicode installer that uses TarvoSetup.DLL through TarvoSetup.nsh, which calls
; the wide exports for notices and patch files and hands command lines over in the
; system's ANSI code page. Saved as UTF-8 with a byte-order mark, as makensis wants
; a script with characters beyond ASCII. With -DAMD64 it is a 64-bit installer,
; which loads the x64 DLL.
;   makensis [-DAMD64] -DTARVO_SETUP_DLL=path\to\TarvoSetup.DLL -DTARVO_TOOL=path\to\tool.exe
;            -DOUTFILE=tarvo-example-unicode.exe tarvo_example_unicode.nsi
; TARVO_TOOL stands for the product's own tool, which here prints its first argument
; back: "tool.exe echo TEXT CODE" writes TEXT and exits with CODE. Each result goes
; to tarvo-results.txt (UTF-16) beside the installer, for the tests.
!ifdef AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
Name "Tarvo TarvoSetup Unicode example"
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
  FileWriteUTF16LE $Results "${LINE}$\r$\n"
!macroend

; The details list into the results, one "detail=" line an item, for the tests.
Function RecordDetails
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $0 $0 1016
  SendMessage $0 0x1004 0 0 $1  ; LVM_GETITEMCOUNT
  System::Call '*(&w${NSIS_MAX_STRLEN}) p .r2'
  ; LVITEMW; in 64-bit code its pointers are aligned to 8 bytes, after a gap of 4.
  !if ${NSIS_PTR_SIZE} > 4
    System::Call '*(i 0, i 0, i 0, i 0, i 0, i 0, p r2, i ${NSIS_MAX_STRLEN}, i 0, p 0, i 0, i 0, i 0, i 0, p 0) p .r3'
  !else
    System::Call '*(i 0, i 0, i 0, i 0, i 0, p r2, i ${NSIS_MAX_STRLEN}, i 0, p 0, i 0, i 0, i 0, p 0) p .r3'
  !endif
  StrCpy $4 0
  ${While} $4 < $1
    SendMessage $0 0x1073 $4 $3  ; LVM_GETITEMTEXTW
    System::Call '*$2(&w${NSIS_MAX_STRLEN} .r5)'
    !insertmacro Record "detail=$5"
    IntOp $4 $4 + 1
  ${EndWhile}
  System::Free $2
  System::Free $3
FunctionEnd

Section "Example"
  FileOpen $Results "$EXEDIR\tarvo-results.txt" w
  FileWriteWord $Results 0xFEFF

  ; The product's own tool, quoted, by its full path. It writes the bytes it was
  ; given, so "é" comes back as it went out. (cmd's built-ins such as echo would
  ; write in the console's OEM code page, where "é" is another byte.)
  InitPluginsDir
  File "/oname=$PLUGINSDIR\tarvo-tool.exe" "${TARVO_TOOL}"
  ${TarvoExecute} '"$PLUGINSDIR\tarvo-tool.exe" echo Caf${U+E9} 4' $0 $1
  !insertmacro Record "execute=$0 $1"

  ; An absent notice is a quiet 0.
  ${TarvoShowMsg} "$EXEDIR\no-such-notice.txt" "Notice" $0
  !insertmacro Record "absent=$0"

  ; A command that runs longer than it may ("tree 2 60000" starts two processes and
  ; waits a minute) is ended after its limit, with every process it started: $0 is
  ; then "timeout". The milliseconds it took go to the results, for the tests.
  System::Call 'kernel32::GetTickCount() i .r5'
  ${TarvoRun} 3000 '"$PLUGINSDIR\tarvo-tool.exe" tree 2 60000' $0 $1
  System::Call 'kernel32::GetTickCount() i .r6'
  IntOp $5 $6 - $5
  !insertmacro Record "limit=$0 $5 $1"

  ; Each line of the output goes to the details list as it comes.
  ${TarvoRunToLog} 60000 '"$PLUGINSDIR\tarvo-tool.exe" interleave' $0
  !insertmacro Record "tolog=$0"

  ; A tool that redraws its progress on one line with bare CRs, as download and unpack
  ; tools do: each state shows above the list as it is drawn, replacing the one
  ; before, and the list keeps the line that ends them.
  ${TarvoRunToLog} 60000 '"$PLUGINSDIR\tarvo-tool.exe" progress 300' $0
  !insertmacro Record "states=$0"

  ; The output comes as text, whatever the program writes: é from a console program
  ; that writes the OEM code page (as cmd does), and from one that writes UTF-8.
  ${TarvoRun} 60000 '"$PLUGINSDIR\tarvo-tool.exe" oem 436166c3a9' $0 $1
  !insertmacro Record "oem=$0 $1"
  ${TarvoRun} 60000 '"$PLUGINSDIR\tarvo-tool.exe" bytes 436166c3a9' $0 $1
  !insertmacro Record "utf8=$0 $1"

  ; A program in a folder whose name no ANSI code page can spell, run by its full
  ; path, with that folder as its working folder (SetOutPath).
  CreateDirectory "$PLUGINSDIR\Ωμέγα-Юникод-統一碼"
  CopyFiles /SILENT "$PLUGINSDIR\tarvo-tool.exe" "$PLUGINSDIR\Ωμέγα-Юникод-統一碼"
  SetOutPath "$PLUGINSDIR\Ωμέγα-Юникод-統一碼"
  ${TarvoRun} 60000 '"$PLUGINSDIR\Ωμέγα-Юникод-統一碼\tarvo-tool.exe" cwd' $0 $1
  SetOutPath "$EXEDIR"
  !insertmacro Record "unicode=$0 $1"

  ${IfNot} ${Silent}
    ; Release notes saved as UTF-8 (without a byte-order mark), as editors save them,
    ; in a folder whose name no ANSI code page can spell (a user named Дмитрий has
    ; his $PLUGINSDIR in such a folder).
    CreateDirectory "$PLUGINSDIR\Ωμέγα-Юникод-統一碼"
    File "/oname=$PLUGINSDIR\Ωμέγα-Юникод-統一碼\release-notes.txt" "..\release-notes.txt"
    ${TarvoShowMsg} "$PLUGINSDIR\Ωμέγα-Юникод-統一碼\release-notes.txt" "Tarvo release notes" $0
    !insertmacro Record "notice=$0"

    ; $3 gives the start name and receives the chosen file's full path.
    StrCpy $3 ""
    ${TarvoSelectPatchFile} $3 $4
    !insertmacro Record "pick=$4 $3"

    Call RecordDetails
  ${EndIf}

  FileClose $Results
SectionEnd
