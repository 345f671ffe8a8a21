; An Inno Setup 6 installer that runs its product's tool through TarvoSetup.isi: a
; step that runs while Setup copies the files, a command with a limit whose lines go
; to Setup's log, a long step on a page with its progress and a Cancel button, then
; the release notes and a patch file.
;   iscc /DTarvoSetupDll=path\to\TarvoSetup.DLL /DTarvoTool=path\to\tool.exe
;        /Ftarvo-setup tarvo_example.iss
; TarvoTool stands for your product's own command-line tool.

[Setup]
AppName=Tarvo
AppVersion=6.0.1
DefaultDirName={localappdata}\Tarvo
PrivilegesRequired=lowest
DisableDirPage=yes
DisableProgramGroupPage=yes
DisableFinishedPage=yes
OutputBaseFilename=tarvo-setup

; After [Setup], which tells it the Setup's architecture (and so which DLL it takes).
#include "..\..\include\TarvoSetup.isi"

[Files]
Source: "{#TarvoTool}"; DestDir: "{app}"; DestName: "tarvo-tool.exe"
; Release notes saved as UTF-8, as editors save them.
Source: "..\release-notes.txt"; DestDir: "{app}"

[Code]
var
  Warmup: Longword;  // the step that runs while the files are copied

procedure CurStepChanged(CurStep: TSetupStep);
var
  Tool, Reason, Patch: String;
  Outcome, ExitCode: Cardinal;
begin
  Tool := ExpandConstant('{app}\tarvo-tool.exe');
  // A step that needs none of the files runs while Setup copies them: the tool comes
  // out of Setup first. A run still going when Setup ends is ended then, with its tree.
  if CurStep = ssInstall then begin
    ExtractTemporaryFile('tarvo-tool.exe');
    if TarvoStart('"' + ExpandConstant('{tmp}\tarvo-tool.exe') + '" count 3', '', 600000, 0, Warmup,
                  Reason) <> 0 then
      Log(Reason);
  end;
  if CurStep = ssPostInstall then begin
    // Its lines go to the log: those that came meanwhile, then the rest as they come.
    TarvoWaitToLog(Warmup, TARVO_WAIT_INFINITE, ExitCode);
    TarvoClose(Warmup);

    // Every command names its program by its full path, and has a limit after which
    // it is ended with everything it started (TARVO_RUN_TIMED_OUT).
    Outcome := TarvoRunToLog('"' + Tool + '" interleave', '', 60000, ExitCode);
    if (Outcome <> 0) or (ExitCode <> 0) then
      RaiseException(Format('Tarvo''s tool failed (%d, exit code %d): see Setup''s log.', [Outcome, ExitCode]));

    // A long step on a page of its own: its bar shows the percentage that the tool
    // draws, and its Cancel button asks first. TARVO_RUN_STOPPED when the user cancelled.
    Outcome := TarvoRunWithProgress('"' + Tool + '" draw curl 6 400', '', 600000, 'Downloading',
                                    'Setup is downloading the data files.', ExitCode);
    if Outcome = TARVO_RUN_STOPPED then
      Log('The download was cancelled.');

    if not WizardSilent then begin
      // An absent notice shows nothing.
      TarvoShowMsg(ExpandConstant('{app}\release-notes.txt'), 'Tarvo release notes');
      // Patch gives the start name and receives the chosen file's full path.
      Patch := '';
      if TarvoSelectPatchFile(Patch) then
        Log('Patch file: ' + Patch);
    end;
  end;
end;
