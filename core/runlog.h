// The record of a run for scripts and installers, and its end. The log that
// -l names gets one UTF-8 line per member, "what<TAB>name<TAB>message" (the
// message only for an error, else empty), and a closing line
// "result<TAB>word<TAB>exit code"; lines are appended, so one log can hold
// many runs. A log that cannot be opened or written is passed over: it
// never stops an extraction. The end of a run, once, writes that closing
// line and removes the folder of the temporary-folder mode, whether the run
// completed, failed or was stopped.
#pragma once

// What happened to a member: written (a directory made), an existing file
// kept (No to the overwrite question), the run stopped there by the user,
// a failure (the message box's text follows), the message member's
// question answered Yes or No.
#define LogExtracted "extracted"
#define LogKept "kept"
#define LogStopped "stopped"
#define LogError "error"
#define LogAccepted "accepted"
#define LogDeclined "declined"

// One line: what, the name (control bytes shown as '?') and the detail.
// Nothing when no log is open.
void LogLine(const char* what, const char* name, const char* detail = "");
// The closing line with the exit code; closes the log and removes
// Work->workFolder with everything in it.
void FinishRun(int exitCode);
