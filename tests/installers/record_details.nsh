; For the example installers under test, through the installer's Record macro.
; RecordBareName: a program named without its folder is the system's, not the
; cmd.exe that the test put beside the installer and in its working folder.
Function RecordBareName
  TarvoSetup::Run 'cmd /c exit 8'
  Pop $0
  !insertmacro Record "bare=$0"
FunctionEnd

; RecordDetails writes the details list into the results, one "detail=" line an item,
; after a tool that erases each of its states with blanks, whose last state stays.
Function RecordDetails
  TarvoSetup::RunToLog '"$PLUGINSDIR\tarvo-tool.exe" draw erase 3 50'
  Pop $0
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $0 $0 1016
  SendMessage $0 0x1004 0 0 $1  ; LVM_GETITEMCOUNT
  System::Call '*(&t${NSIS_MAX_STRLEN}) p .r2'
  ; LVITEM; in 64-bit code its pointers are aligned to 8 bytes, after a gap of 4.
  !if ${NSIS_PTR_SIZE} > 4
    System::Call '*(i 0, i 0, i 0, i 0, i 0, i 0, p r2, i ${NSIS_MAX_STRLEN}, i 0, p 0, i 0, i 0, i 0, i 0, p 0) p .r3'
  !else
    System::Call '*(i 0, i 0, i 0, i 0, i 0, p r2, i ${NSIS_MAX_STRLEN}, i 0, p 0, i 0, i 0, i 0, p 0) p .r3'
  !endif
  !ifdef NSIS_UNICODE
    !define /redef _RECORD_GETITEMTEXT 0x1073  ; LVM_GETITEMTEXTW
  !else
    !define /redef _RECORD_GETITEMTEXT 0x102D  ; LVM_GETITEMTEXTA
  !endif
  StrCpy $4 0
  ${While} $4 < $1
    SendMessage $0 ${_RECORD_GETITEMTEXT} $4 $3
    System::Call '*$2(&t${NSIS_MAX_STRLEN} .r5)'
    !insertmacro Record "detail=$5"
    IntOp $4 $4 + 1
  ${EndWhile}
  System::Free $2
  System::Free $3
FunctionEnd

; RecordUnwaitedRuns: runs that nobody waits for, which the installer ends with their
; trees when it ends: one of 30 s, one stopped, and one that ended by itself.
Function RecordUnwaitedRuns
  TarvoSetup::Start '"$PLUGINSDIR\tarvo-tool.exe" tree 2 30000'
  Pop $0
  TarvoSetup::Start '"$PLUGINSDIR\tarvo-tool.exe" tree 2 30000'
  Pop $1
  TarvoSetup::Stop $1
  TarvoSetup::Start '"$PLUGINSDIR\tarvo-tool.exe" exit'
  Pop $2
  Sleep 500
  !insertmacro Record "unwaited=$0 $1 $2"
FunctionEnd

; RecordPage: NSIS's own bar and the install page's Cancel button (enabled, visible).
Function RecordPage
  FindWindow $R0 "#32770" "" $HWNDPARENT
  GetDlgItem $R0 $R0 1004
  SendMessage $R0 0x408 0 0 $R1  ; PBM_GETPOS
  GetDlgItem $R0 $HWNDPARENT 2
  System::Call 'user32::IsWindowEnabled(p R0) i .R2'
  System::Call 'user32::IsWindowVisible(p R0) i .R3'
  !insertmacro Record "page=$R1 $R2 $R3"
FunctionEnd

; RecordCancelledRun: the page before and after a command with /PROGRESS, then a run
; whose Cancel the window answerer presses once "cancel-next" shows, answering Yes,
; with the tick count of the wait's return and the run's tree.
Function RecordCancelledRun
  Call RecordPage
  TarvoSetup::RunToLog /PROGRESS '"$PLUGINSDIR\tarvo-tool.exe" draw dism 3 50'
  Pop $0
  Call RecordPage
  TarvoSetup::RunToLog '"$PLUGINSDIR\tarvo-tool.exe" echo cancel-next 0'
  Pop $0
  TarvoSetup::Start '"$PLUGINSDIR\tarvo-tool.exe" tree 2 60000'
  Pop $1
  TarvoSetup::WaitToStack /CANCEL $1
  Pop $0
  Pop $2
  System::Call 'kernel32::GetTickCount() i .r3'
  !insertmacro Record "cancelled=$0 $3 $2"
  Call RecordPage
FunctionEnd
