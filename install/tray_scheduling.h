// "-install", "-commit" and "-uninstall": how the tray application Nimbet
// ("bin\Nimbet.exe" in the installation directory) is started for the person
// at the desk. On Vista and later a scheduled task runs it for that account;
// on earlier Windows the machine's Run key starts it. The Task Scheduler is
// driven only through schtasks, whose own verdict is not read: a refused
// creation or a deletion of a missing task still counts as done.
#pragma once

// `windowsMajor` is the major version of the Windows the library runs on:
// from kFirstTaskWindowsMajor a task starts the tray program, below it the
// Run key does.
int InstallTray(unsigned windowsMajor);
int CommitTray(unsigned windowsMajor);
int UninstallTray(unsigned windowsMajor);

// Results of InstallTray.
inline constexpr int kInstallTrayDone = 0;
inline constexpr int kInstallTraySettingMissing = 1; // or a path too long for its buffer
inline constexpr int kInstallTrayDeleteNotStarted = 3;
inline constexpr int kInstallTrayNoAccount = 4;
inline constexpr int kInstallTrayNotWritten = 5; // Run value or task file
inline constexpr int kInstallTrayCreateNotStarted = 6;

// Results of CommitTray.
inline constexpr int kCommitTrayDone = 0;
inline constexpr int kCommitTraySettingMissing = 1; // or no account, or a command line too long
inline constexpr int kCommitTrayRunValueNotWritten = 2;
inline constexpr int kCommitTrayDeleteNotStarted = 3;
inline constexpr int kCommitTrayCreateNotRun = 4;
inline constexpr int kCommitTrayNotWritten = 5; // task file (Vista and later)

// Results of UninstallTray.
inline constexpr int kUninstallTrayDone = 0;
inline constexpr int kUninstallTraySettingMissing = 1;
inline constexpr int kUninstallTrayDeleteNotRun = 3;
inline constexpr int kUninstallTrayRunValueNotDeleted = 4;

// Windows major version from which tasks replace the Run key.
inline constexpr unsigned kFirstTaskWindowsMajor = 6;
