// The two ways the library starts another program (the Windows Installer,
// schtasks). Neither reads the child's exit code: 1 means the child was
// started, waited for (a bounded time) and cleaned up after, not that the
// program did what it was asked.
#pragma once

// Runs `program` (a full path: it is never searched for) with `commandLine`
// (writable: the system may change it in place; its first word is the
// program's name as the child sees it) as a hidden child in
// `workingDirectory`, with pipes as its standard handles (the only handles it
// inherits), and waits for it at most kExecWaitMs; a child still running then
// keeps running. With `printOutput`, what the child has written by then (at
// most kExecEchoBytes, one read) is copied unchanged to standard output.
// Returns 1, or 0 when the child cannot be started (or its inherited handles
// cannot be limited) or the clean-up fails.
int ExecCommand(const char* program, char* commandLine, const char* workingDirectory, bool printOutput);

// Starts `file` with `parameters` through the shell, hidden, in the current
// directory, and waits for it at most kShellRunWaitMs. Returns 1, or 0 when
// the shell cannot start it.
int ShellRun(const char* file, const char* parameters);
