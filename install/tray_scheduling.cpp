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
#include "tray_command_lines.h"
#include "tray_start_time.h"
#include "tray_task_xml.h"
#include "unique_resource.h"

namespace {

constexpr char kShellSchtasks[] = "c:\\windows\\system32\\schtasks";
constexpr char kSystemFolder[] = "c:\\windows\\system32";
constexpr char kSystemFolderSlash[] = "c:\\windows\\system32\\";
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

// The runner may write into the command line: a writable copy of a fixed
// one (each far shorter than the commit command's buffer).
int RunSchtasks(const char* commandLine, const char* workingDirectory)
{
    char writable[kCommitCommandSize];
    return CopyWhole(writable, sizeof writable, commandLine) && ExecCommand(writable, workingDirectory, true);
}

} // namespace

int InstallTray()
{
    char directory[kTrayInstallDirReadSize];
    if (!ReadTrayDirectory(directory, sizeof directory))
        return kInstallTraySettingMissing;
    if (!ShellRun(kShellSchtasks, "/delete /tn \"Nimbet\" /f"))
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
    if (!ShellRun(kShellSchtasks, parameters))
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
    if (!ShellRun(kShellSchtasks, "/delete /tn Nimbet /f"))
        return kCommitTrayDeleteNotStarted;

    char command[kCommitCommandSize];
    if (IsTaskWindows()) {
        char account[kAccountNameSize];
        if (!FindInteractiveUser(account, sizeof account) ||
            !ComposeCommitCommand(command, sizeof command, directory, startTime, account))
            return kCommitTraySettingMissing;
        return ExecCommand(command, directory, true) ? kCommitTrayDone : kCommitTrayCreateNotRun;
    }

    const char* word = OneTimeScheduleWord(GetSystemDefaultUILanguage());
    if (!ComposeLegacyCommitCommand(command, sizeof command, word, directory, startTime))
        return kCommitTraySettingMissing;
    if (!ExecCommand(command, kSystemFolder, true))
        return kCommitTrayCreateNotRun;
    return WriteRunValue(directory) ? kCommitTrayDone : kCommitTrayRunValueNotWritten;
}

int UninstallTray()
{
    char directory[kTrayInstallDirReadSize];
    if (!ReadSetting(kValueInstallDir, directory, sizeof directory))
        return kUninstallTraySettingMissing;
    if (IsTaskWindows()) {
        if (!RunSchtasks("schtasks /delete /tn Nimbet /f", kSystemFolderSlash))
            return kUninstallTrayDeleteNotRun;
    } else if (!DeleteRegValue(kRunSubkey, kValueRunTray)) {
        return kUninstallTrayRunValueNotDeleted;
    }
    return RunSchtasks("schtasks /delete /tn \"VPNKorv Update\" /f", kSystemFolderSlash) ? kUninstallTrayDone
                                                                                         : kUninstallTrayDeleteNotRun;
}
