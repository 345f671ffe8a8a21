; An Inno Setup 6 installer that uses TarvoSetup.DLL through TarvoSetup.isi.
;   iscc /DTarvoSetupDll=path\to\TarvoSetup.DLL /Ooutput /Ftarvo-example tarvo_example.iss
; It runs a command and uses its output and exit code, shows an optional notice
; (absent here, quietly) and the release notes, and lets the user pick a patch
; file. Each result goes to tarvo-results.txt beside the installer, for the tests.
; It installs nothing.

#include "..\..\include\TarvoSetup.isi"

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

[Code]
var
  Results: TArrayOfString;

procedure AddResult(const Line: String);
begin
  SetArrayLength(Results, GetArrayLength(Results) + 1);
  Results[GetArrayLength(Results) - 1] := Line;
end;

procedure RunExamples;
var
  Output, Notes, Patch: String;
  Code: Integer;
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

  if not WizardSilent then begin
    Notes := ExpandConstant('{tmp}\notes.txt');
    SaveStringToFile(Notes, 'Welcome to Tarvo.' + #13#10 + 'This notice came from the installer.', False);
    AddResult(Format('notice=%d', [TarvoShowMsg(Notes, 'Tarvo release notes')]));

    Patch := '';
    if TarvoSelectPatchFile(Patch) then
      AddResult('pick=chosen ' + Patch)
    else
      AddResult('pick=cancelled');
  end;
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep = ssPostInstall then begin
    RunExamples;
    SaveStringsToFile(ExpandConstant('{src}\tarvo-results.txt'), Results, False);
  end;
end;
