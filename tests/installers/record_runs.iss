// For the example installer under test: runs that nobody waits for, which Setup ends
// with their trees when it ends: one of 30 s, one stopped, and one that ended by itself.
procedure RecordUnwaitedRuns(const Tool: String);
var
  Long, Stopped, Ended: Longword;
  Reason: String;
begin
  TarvoStart('"' + Tool + '" tree 2 30000', '', 0, 0, Long, Reason);
  TarvoStart('"' + Tool + '" tree 2 30000', '', 0, 0, Stopped, Reason);
  TarvoStop(Stopped);
  TarvoStart('"' + Tool + '" exit', '', 0, 0, Ended, Reason);
  Sleep(500);
  AddResult(Format('unwaited=%d %d %d', [Long, Stopped, Ended]));
  AddResult('tmp=' + ExpandConstant('{tmp}'));
end;

// The wizard's buttons (Next, Back, Cancel enabled).
procedure RecordButtons;
begin
  AddResult(Format('buttons=%d %d %d', [Ord(WizardForm.NextButton.Enabled), Ord(WizardForm.BackButton.Enabled),
                                        Ord(WizardForm.CancelButton.Enabled)]));
end;

// A run on the progress page whose Cancel the window answerer presses once the tree
// has said so, answering Yes, with the tick count of the return; the buttons before
// and after.
procedure RecordCancelledRun(const Tool: String);
var
  Outcome, ExitCode: Cardinal;
begin
  RecordButtons;
  Outcome := TarvoRunWithProgress('"' + Tool + '" tree 2 60000', '', 0, 'Tarvo', 'A run to cancel', ExitCode);
  AddResult(Format('cancelled=%d %d', [Outcome, GetTickCount]));
  RecordButtons;
end;
