; An Inno Setup 6 installer that uses TarvoSetup.DLL through TarvoSetup.isi.
;   iscc /DTarvoSetupDll=path\to\TarvoSetup.DLL /Ooutput /Ftarvo-example tarvo_example.iss
; It runs a command and uses its output and exit code, shows an optional notice
; (absent here, quietly) and the release notes, and lets the user pick a patch
; file. Each result goes to tarvo-results.txt (UTF-8) beside the installer, for the
; tests. It installs nothing. Saved as UTF-8 with a byte-order mark, as the compiler
; wants a script with characters beyond ASCII.

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

[Files]
; Release notes saved as UTF-8 (without a byte-order mark), as editors save them.
Source: "..\release-notes.txt"; Flags: dontcopy

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
  Output, Folder, Patch: String;
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
    // Any folder works, also one whose name no ANSI code page can spell (a user
    // named Дмитрий has his {tmp} in such a folder).
    Folder := ExpandConstant('{tmp}\Ωμέγα-Юникод-統一碼');
    CreateDir(Folder);
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

procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep = ssPostInstall then begin
    RunExamples;
    SaveStringsToUTF8File(ExpandConstant('{src}\tarvo-results.txt'), Results, False);
  end;
end;
