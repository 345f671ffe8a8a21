; The Inno Setup installer that installer_test.sh builds and runs: every function of
; TarvoSetup.isi, each result written to tarvo-results.txt (UTF-8) beside it, with
; record_runs.iss for the runs nobody waits for and the progress page's Cancel. It
; installs nothing. Saved as UTF-8 with a byte-order mark, as the compiler wants a
; script beyond ASCII.
;   iscc /DTarvoSetupDll=...\TarvoSetup.DLL /DTarvoTool=...\test-child.exe
;        /DTarvoRecordRuns=record_runs.iss /Ooutput /Fsetup check.iss

[Setup]
AppName=Tarvo TarvoSetup example
AppVersion=6.0.1
CreateAppDir=no
Uninstallable=no
PrivilegesRequired=lowest
DisableProgramGroupPage=yes
DisableReadyPage=yes
DisableFinishedPage=yes
OutputBaseFilename=tarvo-example

; After [Setup], which tells it the Setup's architecture (and so which DLL it takes).
#include "..\..\include\TarvoSetup.isi"

[Files]
; Release notes saved as UTF-8 (without a byte-order mark), as editors save them.
Source: "..\..\examples\release-notes.txt"; Flags: dontcopy
Source: "{#TarvoTool}"; DestName: "tarvo-tool.exe"; Flags: dontcopy
; What the installer copies while the long step runs.
Source: "..\..\examples\release-notes.txt"; DestDir: "{tmp}\product"

[Code]
var
  Results: TArrayOfString;

function GetTickCount: Cardinal;
  external 'GetTickCount@kernel32.dll stdcall';

procedure AddResult(const Line: String);
begin
  SetArrayLength(Results, GetArrayLength(Results) + 1);
  Results[GetArrayLength(Results) - 1] := Line;
end;

#ifdef TarvoRecordRuns
  #include TarvoRecordRuns
#endif

// Shows each line of a command as it comes; the lines go to the results too, for
// the tests.
procedure ShowProgress(const Line: String);
begin
  WizardForm.StatusLabel.Caption := Line;
  AddResult('progress=' + Line);
end;

procedure RunExamples(const Tool: String);
var
  Output, Folder, Patch: String;
  Code: Integer;
  Outcome, ExitCode, Start: Cardinal;
begin
  // {cmd} is the full path of cmd.exe: a cmd.exe in the installer's own folder
  // must not be the one that runs.
  Code := TarvoExecute('"' + ExpandConstant('{cmd}') + '" /c echo tarvo-check& exit 7', Output);
  Log(Format('Execute returned %d: %s', [Code, Output]));
  AddResult(Format('execute=%d %s', [Code, Output]));

  // A failure comes back as -1 with the system's explanation.
  Code := TarvoExecute('"' + ExpandConstant('{src}\no-such-tool.exe') + '"', Output);
  AddResult(Format('missing=%d %s', [Code, Output]));

  // A small buffer keeps the first bytes only: capacity - 1 of them.
  Code := TarvoExecuteCapped('"' + ExpandConstant('{cmd}') + '" /c echo 0123456789', 5, Output);
  AddResult(Format('capped=%d %s', [Code, Output]));

  // An absent notice is a quiet 0.
  AddResult(Format('absent=%d', [TarvoShowMsg(ExpandConstant('{src}\no-such-notice.txt'), 'Notice')]));

  // A command that runs longer than it may is ended after its limit, with every
  // process it started: the outcome is then TARVO_RUN_TIMED_OUT (1460). The milliseconds it took go to the
  // results, for the tests.
  Start := GetTickCount;
  Outcome := TarvoRun('"' + Tool + '" tree 2 60000', '', 3000, Output, ExitCode);
  AddResult(Format('limit=%d %d %s', [Outcome, GetTickCount - Start, Output]));

  // Each line of the output goes to Setup's log as it comes.
  Outcome := TarvoRunToLog('"' + Tool + '" interleave', '', 60000, ExitCode);
  AddResult(Format('tolog=%d', [Outcome]));

  // A tool that redraws its progress on one line with bare CRs, as download and unpack
  // tools do: each state goes to the log as a line of its own, as it is drawn.
  Outcome := TarvoRunToLog('"' + Tool + '" progress 300', '', 60000, ExitCode);
  AddResult(Format('states=%d', [Outcome]));

  // A procedure of the script's own receives each line as it comes.
  Outcome := TarvoRunWithLines('"' + Tool + '" interleave', '', 60000, @ShowProgress, Output, ExitCode);
  AddResult(Format('withlines=%d', [Outcome]));

  // The output comes as text, whatever the program writes: é from a console program
  // that writes the OEM code page (as cmd does), and from one that writes UTF-8.
  Outcome := TarvoRun('"' + Tool + '" oem 436166c3a9', '', 60000, Output, ExitCode);
  AddResult(Format('oem=%d %s', [Outcome, Output]));
  Outcome := TarvoRun('"' + Tool + '" bytes 436166c3a9', '', 60000, Output, ExitCode);
  AddResult(Format('utf8=%d %s', [Outcome, Output]));

  // A program in a folder whose name no ANSI code page can spell, run by its full
  // path, with that folder as its working folder.
  Folder := ExpandConstant('{tmp}\Ωμέγα-Юникод-統一碼');
  CreateDir(Folder);
  FileCopy(Tool, Folder + '\tarvo-tool.exe', False);
  Outcome := TarvoRun('"' + Folder + '\tarvo-tool.exe" cwd', Folder, 60000, Output, ExitCode);
  AddResult(Format('unicode=%d %s', [Outcome, Output]));

  if not WizardSilent then begin
    // Release notes saved as UTF-8, shown from the folder above: any folder works,
    // also one whose name no ANSI code page can spell (a user named Дмитрий has his
    // {tmp} in such a folder).
    ExtractTemporaryFile('release-notes.txt');
    FileCopy(ExpandConstant('{tmp}\release-notes.txt'), Folder + '\release-notes.txt', False);
    AddResult(Format('notice=%d', [TarvoShowMsg(Folder + '\release-notes.txt', 'Tarvo release notes')]));

    Patch := '';
    if TarvoSelectPatchFile(Patch) then
      AddResult('pick=chosen ' + Patch)
    else
      AddResult('pick=cancelled');
  end;
end;

var
  LongStep: Longword;

procedure CurStepChanged(CurStep: TSetupStep);
var
  Tool, Reason: String;
  Outcome, ExitCode: Cardinal;
begin
  Tool := ExpandConstant('{tmp}\tarvo-tool.exe');
  // A long step that needs none of the files runs while they are copied: TarvoStart
  // goes on at once, and TarvoWaitToLog puts the lines that came meanwhile into the
  // log, then the rest as they come. A run still going when Setup ends is ended then,
  // with everything it started.
  if CurStep = ssInstall then begin
    ExtractTemporaryFile('tarvo-tool.exe');
    if TarvoStart('"' + Tool + '" count 3', '', 60000, 0, LongStep, Reason) <> 0 then
      Log(Reason);
  end;
  if CurStep = ssPostInstall then begin
    Outcome := TarvoWaitToLog(LongStep, TARVO_WAIT_INFINITE, ExitCode);
    TarvoClose(LongStep);
    AddResult(Format('waited=%d %d', [Outcome, ExitCode]));
    RunExamples(Tool);

#ifdef TarvoRecordRuns
    // First on the page, made then: a command that tells no percentage, cancelled.
    if not WizardSilent then
      RecordCancelledRun(Tool);
#endif
    // A long step on a page of its own: its bar shows the command's percentage, and
    // its Cancel button asks first. TARVO_RUN_STOPPED when the user cancelled.
    Outcome := TarvoRunWithProgress('"' + Tool + '" draw curl 6 400', '', 600000, 'Downloading',
                                    'Setup is downloading the data files.', ExitCode);
    if Outcome = TARVO_RUN_STOPPED then
      Log('The download was cancelled.');
    AddResult(Format('withprogress=%d %d', [Outcome, ExitCode]));
#ifdef TarvoRecordRuns
    RecordUnwaitedRuns(Tool);
#endif
    SaveStringsToUTF8File(ExpandConstant('{src}\tarvo-results.txt'), Results, False);
  end;
end;
