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
