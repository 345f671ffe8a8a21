; TarvoSetup's Execute (through TarvoSetup.isi) against Inno Setup's own
; ExecAndCaptureOutput, interleaved in one very silent installer run. Results go
; to Results as "key value" lines; a key of rounds holds one figure per round.
; Batch is the number of calls per round ("Call" cannot begin a define name here).
;   iscc /DTarvoSetupDll=... /DChild=Z:\...\test-child.exe /DResults=Z:\...\inno.txt
;        /DBatch=20 /DRounds=3 /O... /Finno-bench inno_bench.iss
;   inno-bench.exe /VERYSILENT /SUPPRESSMSGBOXES

#include "..\include\TarvoSetup.isi"

#ifndef Large
  #define Large 8388608
#endif

[Setup]
AppName=TarvoSetup benchmark
AppVersion=1
CreateAppDir=no
Uninstallable=no
PrivilegesRequired=lowest
DisableReadyPage=yes
DisableFinishedPage=yes

[Code]
var
  Results: TArrayOfString;

function GetTickCount: Cardinal;
  external 'GetTickCount@kernel32.dll stdcall';

procedure AddResult(const Key, Value: String);
begin
  SetArrayLength(Results, GetArrayLength(Results) + 1);
  Results[GetArrayLength(Results) - 1] := Key + ' ' + Value;
end;

// Runs the child with TarvoSetup; returns the milliseconds, and the exit code and
// the number of characters captured through Code and Captured.
function TimeTarvo(const Params: String; Capacity: Cardinal; var Code, Captured: Integer): Cardinal;
var
  Output: String;
  Start: Cardinal;
begin
  Start := GetTickCount;
  Code := TarvoExecuteCapped('"{#Child}" ' + Params, Capacity, Output);
  Result := GetTickCount - Start;
  Captured := Length(Output);
end;

// The same with Inno's runner; Captured counts the characters of the lines it gave.
function TimeInno(const Params: String; var Code, Captured: Integer): Cardinal;
var
  Output: TExecOutput;
  Start: Cardinal;
  I: Integer;
begin
  Start := GetTickCount;
  try
    if not ExecAndCaptureOutput('{#Child}', Params, '', SW_HIDE, ewWaitUntilTerminated, Code, Output) then
      Code := -1;
  except
    Code := -2;
  end;
  Result := GetTickCount - Start;
  Captured := 0;
  for I := 0 to GetArrayLength(Output.StdOut) - 1 do
    Captured := Captured + Length(Output.StdOut[I]);
end;

var
  LineCount: Integer;

procedure CountLine(const Line: String);
begin
  LineCount := LineCount + 1;
end;

procedure CountLogLine(const S: String; const Error, FirstLine: Boolean);
begin
  LineCount := LineCount + 1;
end;

// The lines of the child's output, each handed to a procedure of the script as it
// comes: TarvoRunWithLines against ExecAndLogOutput, one round each in turn.
procedure CompareLines(const Params: String);
var
  Round, Code: Integer;
  Start, ExitCode: Cardinal;
  Output, TarvoRounds, InnoRounds: String;
begin
  for Round := 1 to {#Rounds} do begin
    LineCount := 0;
    Start := GetTickCount;
    TarvoRunWithLines('"{#Child}" ' + Params, '', 0, @CountLine, Output, ExitCode);
    TarvoRounds := TarvoRounds + ' ' + IntToStr(GetTickCount - Start);
    AddResult('inno.linehandler.tarvo_lines', IntToStr(LineCount));
    LineCount := 0;
    Start := GetTickCount;
    try
      if not ExecAndLogOutput('{#Child}', Params, '', SW_HIDE, ewWaitUntilTerminated, Code, @CountLogLine) then
        Code := -1;
    except
      Code := -2;
    end;
    InnoRounds := InnoRounds + ' ' + IntToStr(GetTickCount - Start);
    AddResult('inno.linehandler.inno_lines', IntToStr(LineCount));
  end;
  AddResult('inno.linehandler.tarvo_ms', Trim(TarvoRounds));
  AddResult('inno.linehandler.inno_ms', Trim(InnoRounds));
end;

// Rounds of Calls calls each, the two runners taking turns; one figure per round.
procedure Compare(const Name, Params: String; Calls: Integer; Capacity: Cardinal);
var
  Round, Call, Code, Captured: Integer;
  TarvoRounds, InnoRounds: String;
  TarvoMs, InnoMs: Cardinal;
begin
  for Round := 1 to {#Rounds} do begin
    TarvoMs := 0;
    InnoMs := 0;
    for Call := 1 to Calls do begin
      TarvoMs := TarvoMs + TimeTarvo(Params, Capacity, Code, Captured);
      InnoMs := InnoMs + TimeInno(Params, Code, Captured);
    end;
    TarvoRounds := TarvoRounds + ' ' + IntToStr(TarvoMs);
    InnoRounds := InnoRounds + ' ' + IntToStr(InnoMs);
  end;
  AddResult('inno.' + Name + '.tarvo_ms', Trim(TarvoRounds));
  AddResult('inno.' + Name + '.inno_ms', Trim(InnoRounds));
  TimeTarvo(Params, Capacity, Code, Captured);
  AddResult('inno.' + Name + '.tarvo_captured', IntToStr(Captured));
  TimeInno(Params, Code, Captured);
  AddResult('inno.' + Name + '.inno_captured', IntToStr(Captured));
end;

// One call each, apart, for a child whose exit is not the end of its output.
procedure Once(const Name, Params: String; Pause: Integer);
var
  Code, Captured: Integer;
  Ms: Cardinal;
begin
  Ms := TimeTarvo(Params, 4096, Code, Captured);
  AddResult('inno.' + Name + '.tarvo_ms', IntToStr(Ms));
  AddResult('inno.' + Name + '.tarvo_exit', IntToStr(Code));
  Sleep(Pause);
  Ms := TimeInno(Params, Code, Captured);
  AddResult('inno.' + Name + '.inno_ms', IntToStr(Ms));
  AddResult('inno.' + Name + '.inno_exit', IntToStr(Code));
  Sleep(Pause);
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep <> ssPostInstall then
    exit;
  AddResult('inno.calls', '{#Batch}');
  AddResult('inno.rounds', '{#Rounds}');
  Compare('trivial', 'exit', {#Batch}, 4096);
  Compare('lines', 'lines {#Large}', 1, {#Large} + 1);
  Compare('oneline', 'pattern {#Large}', 1, {#Large} + 1);
  Once('grandchild', 'grandchild 0 3000', 3500);
  Once('stdin', 'stdin', 0);
  CompareLines('lines {#Large}');
  SaveStringsToFile('{#Results}', Results, False);
end;
