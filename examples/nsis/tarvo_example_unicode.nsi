; A Unicode installer that uses TarvoSetup.DLL through TarvoSetup.nsh, which calls
; the wide exports for notices and patch files and hands command lines over in the
; system's ANSI code page. Saved as UTF-8 with a byte-order mark, as makensis wants
; a script with characters beyond ASCII.
;   makensis -DTARVO_SETUP_DLL=path\to\TarvoSetup.DLL -DTARVO_TOOL=path\to\tool.exe
;            -DOUTFILE=tarvo-example-unicode.exe tarvo_example_unicode.nsi
; TARVO_TOOL stands for the product's own tool, which here prints its first argument
; back: "tool.exe echo TEXT CODE" writes TEXT and exits with CODE. Each result goes
; to tarvo-results.txt (UTF-16) beside the installer, for the tests.
Unicode true
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
  ${EndIf}

  FileClose $Results
SectionEnd
