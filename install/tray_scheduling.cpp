#include "tray_scheduling.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bounded_format.h"
#include "ferolin_entry.h"
#include "ferolin_limits.h"
#include "interactive_user.h"
#include "process_runner.h"
#include "settings_names.h"
#include "settings_store.h"
#include "system_programs.h"
#include "tray_command_lines.h"
#include "tray_start_time.h"
#include "tray_task_xml.h"
#include "unique_resource.h"

namespace {

constexpr char kSchtasks[] = "schtasks.exe";
constexpr char kTaskFileTail[] = "\\config\\Nimbet.xml";

bool IsTaskWindows() { return windowsMajorVersion >= kFirstTaskWindowsMajor; }

// The installation directory without its one trailing backslash.
bool ReadTrayDirectory(char* directory, std::size_t size)
{
    if (!ReadSetting(kValueInstallDir, directory, size))
        return false;
    const std::size_t length = std::strlen(directory);
    if (length > 0 && directory[length - 1] == '\\')
        directory[length - 1] = '\0';
    return true;
}

int WriteRunValue(const char* directory)
{
    char value[kRunValueSize];
    return ComposeRunValue(value, sizeof value, directory) && WriteRegValue(kRunSubkey, kValueRunTray, value);
}

int WriteTaskFile(const char* path, const TrayTaskPieces& pieces)
{
    FileStream file(std::fopen(path, "wb"));
    if (!file)
        return 0;
    for (const char* piece : pieces.piece)
        if (std::fputs(piece, file.get()) == EOF)
            return 0;
    return std::fflush(file.get()) == 0 && std::fclose(file.release()) == 0 ? 1 : 0;
}

// schtasks by the shell, from the system directory.
int ShellSchtasks(const char* parameters)
{
    char program[MAX_PATH];
    return SystemProgram(program, sizeof program, kSchtasks) && ShellRun(program, parameters);
}

// schtasks by the process runner, from the system directory. The runner may
// write into the command line: a writable copy (each fixed one is far
// shorter than the commit command's buffer).
int RunSchtasks(const char* commandLine, const char* workingDirectory)
{
    char program[MAX_PATH];
    char writable[kCommitCommandSize];
    return SystemProgram(program, sizeof program, kSchtasks) && CopyWhole(writable, sizeof writable, commandLine) &&
        ExecCommand(program, writable, workingDirectory, true);
}

// Earlier Windows' schtasks runs in the system directory.
int RunSchtasksInSystemFolder(const char* commandLine)
{
    char folder[MAX_PATH];
    return SystemFolder(folder, sizeof folder) && RunSchtasks(commandLine, folder);
}

} // namespace

int InstallTray()
{
    char directory[kTrayInstallDirReadSize];
    if (!ReadTrayDirectory(directory, sizeof directory))
        return kInstallTraySettingMissing;
    if (!ShellSchtasks("/delete /tn \"Nimbet\" /f"))
        return kInstallTrayDeleteNotStarted;
    if (!IsTaskWindows())
        return WriteRunValue(directory) ? kInstallTrayDone : kInstallTrayNotWritten;

    char account[kAccountNameSize];
    if (!FindInteractiveUser(account, sizeof account))
        return kInstallTrayNoAccount;
    // Everything is composed before the file is created: a value too long
    // for its buffer leaves nothing behind.
    char taskFile[kTaskFilePathSize];
    char parameters[kShellParametersSize];
    TrayTaskPieces pieces;
    if (!FormatWhole(taskFile, sizeof taskFile, "%s%s", directory, kTaskFileTail) ||
        !FormatWhole(parameters, sizeof parameters, "/create /tn Nimbet /xml \"%s\"", taskFile) ||
        !ComposeTrayTask(directory, account, &pieces))
        return kInstallTraySettingMissing;
    if (!WriteTaskFile(taskFile, pieces)) {
        DeleteFileA(taskFile);
        return kInstallTrayNotWritten;
    }
    if (!ShellSchtasks(parameters))
        return kInstallTrayCreateNotStarted;
    DeleteFileA(taskFile);
    return kInstallTrayDone;
}

int CommitTray()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char startTime[kStartTimeSize];
    FormatStartTime(now.wHour, now.wMinute, now.wSecond, startTime, sizeof startTime);

    char directory[kTrayInstallDirReadSize];
    if (!ReadTrayDirectory(directory, sizeof directory))
        return kCommitTraySettingMissing;
    if (!ShellSchtasks("/delete /tn Nimbet /f"))
        return kCommitTrayDeleteNotStarted;

    char command[kCommitCommandSize];
    if (IsTaskWindows()) {
        char account[kAccountNameSize];
        if (!FindInteractiveUser(account, sizeof account) ||
            !ComposeCommitCommand(command, sizeof command, directory, startTime, account))
            return kCommitTraySettingMissing;
        return RunSchtasks(command, directory) ? kCommitTrayDone : kCommitTrayCreateNotRun;
    }

    const char* word = OneTimeScheduleWord(GetSystemDefaultUILanguage());
    if (!ComposeLegacyCommitCommand(command, sizeof command, word, directory, startTime))
        return kCommitTraySettingMissing;
    if (!RunSchtasksInSystemFolder(command))
        return kCommitTrayCreateNotRun;
    return WriteRunValue(directory) ? kCommitTrayDone : kCommitTrayRunValueNotWritten;
}

int UninstallTray()
{
    char directory[kTrayInstallDirReadSize];
    if (!ReadSetting(kValueInstallDir, directory, sizeof directory))
        return kUninstallTraySettingMissing;
    if (IsTaskWindows()) {
        if (!RunSchtasksInSystemFolder("schtasks /delete /tn Nimbet /f"))
            return kUninstallTrayDeleteNotRun;
    } else if (!DeleteRegValue(kRunSubkey, kValueRunTray)) {
        return kUninstallTrayRunValueNotDeleted;
    }
    return RunSchtasksInSystemFolder("schtasks /delete /tn \"VPNKorv Update\" /f") ? kUninstallTrayDone
                                                                                   : kUninstallTrayDeleteNotRun;
}
