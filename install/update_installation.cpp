#include "update_installation.h"

#include <windows.h>

#include <string.h>

#include "bounded_format.h"
#include "file_names.h"
#include "ferolin_limits.h"
#include "package_file.h"
#include "process_runner.h"
#include "settings_names.h"
#include "settings_store.h"
#include "system_programs.h"
#include "url_download.h"

int RunUpdate()
{
    char installDir[kUpdateInstallDirReadSize];
    char softwareVersion[kSoftwareVersionReadSize];
    char status[kStatusReadSize];
    if (!ReadSetting(kValueInstallDir, installDir, sizeof installDir) ||
        !ReadSetting(kValueSoftwareVersion, softwareVersion, sizeof softwareVersion) ||
        !ReadSetting(kValueStatus, status, sizeof status))
        return kUpdateSettingMissing;
    if (_stricmp(status, kStatusActive) != 0)
        return kUpdateDone;

    char url[kPackageUrlReadSize];
    char fileName[kPackageFileReadSize];
    if (!ReadSetting(kValueSoftwareUrl, url, sizeof url) || !ReadSetting(kValueSoftwareFile, fileName, sizeof fileName))
        return kUpdateSettingMissing;
    if (url[0] == '\0' || fileName[0] == '\0')
        return kUpdateDone;
    // The name comes from the server: it must not lead out of the
    // installation directory (or to a device), since the package is written
    // and run as the system account, nor be a program or library of its own.
    if (!IsServerPackageName(fileName))
        return kUpdateSettingMissing;

    if (!FetchURLToFile(url, installDir, fileName))
        return kUpdateDownloadFailed;
    char packagePath[kDownloadPathLimit + 1];
    if (!FormatWhole(packagePath, sizeof packagePath, "%s%s", installDir, fileName))
        return kUpdateDownloadFailed;
    // A body cut short without a length to show it (a chunked reply), an
    // error page or anything else that is no whole installer package never
    // reaches msiexec: it counts as a failed download. The checked file stays
    // open, shared for reading only, for as long as the installer is waited
    // for, so nobody can swap it between the check and msiexec's own open.
    FileHandle package;
    if (!HoldCheckedPackage(packagePath, installDir, &package)) {
        DeleteFileA(packagePath);
        return kUpdateDownloadFailed;
    }
    // The installer's outcome is left in "update_stt".
    InstallPackage(packagePath);
    return kUpdateDone;
}

int InstallPackage(const char* packagePath)
{
    char installDir[kPackageInstallDirReadSize];
    if (!ReadSetting(kValueInstallDir, installDir, sizeof installDir))
        return kInstallSettingFailed;
    if (!WriteSetting(kValueUpdateState, kUpdateStateInstalling))
        return kInstallSettingFailed;
    char user[kInstallUserReadSize];
    char password[kInstallPasswordReadSize];
    if (!ReadSetting(kValueUserLogin, user, sizeof user) ||
        !ReadSetting(kValuePasswordLogin, password, sizeof password))
        return kInstallSettingFailed;

    char installer[MAX_PATH];
    char command[kInstallerCommandSize];
    if (!SystemProgram(installer, sizeof installer, "msiexec.exe") ||
        !FormatWhole(command, sizeof command, "msiexec /qb /i \"%s\" /norestart", packagePath))
        return kInstallerNotStarted;
    if (!ExecCommand(installer, command, installDir, false))
        return kInstallerNotStarted;
    return WriteSetting(kValueUpdateState, kUpdateStateInstalled) ? kInstallDone : kInstallSettingFailed;
}
