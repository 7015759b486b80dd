#include "tray_scheduling.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bounded_format.h"
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

bool IsTaskWindows(unsigned windowsMajor) { return windowsMajor >= kFirstTaskWindowsMajor; }

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

// The document as UTF-16LE behind its byte-order mark, converted from the
// ANSI code page in which the account and directory were read (an "é" in
// code page 1252 stays an "é"). A byte that is no character there fails the
// write rather than naming another account.
int WriteTaskFile(const char* path, const TrayTaskPieces& pieces)
{
    static_assert(sizeof(wchar_t) == 2, "UTF-16 code units");
    char document[sizeof pieces.piece];
    if (!FormatWhole(document, sizeof document, "%s%s%s", pieces.piece[0], pieces.piece[1], pieces.piece[2]))
        return 0;
    wchar_t wide[sizeof pieces.piece + 1];
    wide[0] = 0xFEFF;
    const int length = static_cast<int>(std::strlen(document));
    const int converted = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, document, length, wide + 1,
                                              static_cast<int>(sizeof pieces.piece));
    if (converted <= 0)
        return 0;
    FileStream file(std::fopen(path, "wb"));
    if (!file)
        return 0;
    const std::size_t units = static_cast<std::size_t>(converted) + 1;
    if (std::fwrite(wide, sizeof wide[0], units, file.get()) != units)
        return 0;
    return std::fflush(file.get()) == 0 && std::fclose(file.release()) == 0 ? 1 : 0;
}

// Writes the task file, deleting whatever a failed write left there, so
// schtasks is never handed a cut definition.
bool WriteOrDeleteTaskFile(const char* path, const TrayTaskPieces& pieces)
{
    if (WriteTaskFile(path, pieces))
        return true;
    DeleteFileA(path);
    return false;
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

int InstallTray(unsigned windowsMajor)
{
    char directory[kTrayInstallDirReadSize];
    if (!ReadTrayDirectory(directory, sizeof directory))
        return kInstallTraySettingMissing;
    if (!ShellSchtasks("/delete /tn \"Nimbet\" /f"))
        return kInstallTrayDeleteNotStarted;
    if (!IsTaskWindows(windowsMajor))
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
    if (!WriteOrDeleteTaskFile(taskFile, pieces))
        return kInstallTrayNotWritten;
    if (!ShellSchtasks(parameters))
        return kInstallTrayCreateNotStarted;
    DeleteFileA(taskFile);
    return kInstallTrayDone;
}

int CommitTray(unsigned windowsMajor)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char startTime[kStartTimeSize];
    char startBoundary[kStartBoundarySize];
    if (!FormatStartTime(now.wHour, now.wMinute, now.wSecond, startTime, sizeof startTime) ||
        !FormatStartBoundary(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, startBoundary,
                             sizeof startBoundary))
        return kCommitTraySettingMissing;

    char directory[kTrayInstallDirReadSize];
    if (!ReadTrayDirectory(directory, sizeof directory))
        return kCommitTraySettingMissing;
    if (!ShellSchtasks("/delete /tn Nimbet /f"))
        return kCommitTrayDeleteNotStarted;

    char command[kCommitCommandSize];
    if (IsTaskWindows(windowsMajor)) {
        char account[kAccountNameSize];
        char taskFile[kTaskFilePathSize];
        TrayTaskPieces pieces;
        if (!FindInteractiveUser(account, sizeof account) ||
            !FormatWhole(taskFile, sizeof taskFile, "%s%s", directory, kTaskFileTail) ||
            !ComposeCommitCommand(command, sizeof command, taskFile) ||
            !ComposeCommitTask(directory, account, startBoundary, &pieces))
            return kCommitTraySettingMissing;
        if (!WriteOrDeleteTaskFile(taskFile, pieces))
            return kCommitTrayNotWritten;
        const int ran = RunSchtasks(command, directory);
        DeleteFileA(taskFile);
        return ran ? kCommitTrayDone : kCommitTrayCreateNotRun;
    }

    // Never reached by the shipped binaries, which need Vista (OpenSSL
    // imports bcrypt.dll); kept for the earlier Windows they once served.
    const char* word = OneTimeScheduleWord(GetSystemDefaultUILanguage());
    if (!ComposeLegacyCommitCommand(command, sizeof command, word, directory, startTime))
        return kCommitTraySettingMissing;
    if (!RunSchtasksInSystemFolder(command))
        return kCommitTrayCreateNotRun;
    return WriteRunValue(directory) ? kCommitTrayDone : kCommitTrayRunValueNotWritten;
}

int UninstallTray(unsigned windowsMajor)
{
    char directory[kTrayInstallDirReadSize];
    if (!ReadSetting(kValueInstallDir, directory, sizeof directory))
        return kUninstallTraySettingMissing;
    if (IsTaskWindows(windowsMajor)) {
        if (!RunSchtasksInSystemFolder("schtasks /delete /tn Nimbet /f"))
            return kUninstallTrayDeleteNotRun;
    } else if (!DeleteRegValue(kRunSubkey, kValueRunTray)) {
        return kUninstallTrayRunValueNotDeleted;
    }
    return RunSchtasksInSystemFolder("schtasks /delete /tn \"VPNKorv Update\" /f") ? kUninstallTrayDone
                                                                                   : kUninstallTrayDeleteNotRun;
}
