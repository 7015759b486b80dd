#include "config_check.h"

#include <windows.h>

#include <cstring>

#include "bounded_format.h"
#include "config_download.h"
#include "config_paths.h"
#include "reply_record.h"
#include "request_bodies.h"
#include "request_road.h"
#include "settings_names.h"
#include "settings_store.h"

namespace {

// A failed download: the version of the entry's kind is emptied (whether that
// write works changes nothing more) so that the next check asks again.
int FailDownload(const char* versionValue)
{
    WriteSetting(versionValue, "");
    return kStoreConfigStopped;
}

int StoreConfigEntry(const ConfigEntry& entry, const char* serverCaFile)
{
    const bool vpnFile = std::strcmp(entry.is_cnf, kVpnConfigKind) == 0;
    const char* versionValue = vpnFile ? kValueConfigVersion : kValueFileVersion;

    // Checked before any of the entry's values reaches the settings key: the
    // service program deletes "config_dir\config_file" for a blocked account,
    // so a file name that leads elsewhere must never be recorded either. Nor
    // may the server place anything Windows would load or run: a file that
    // is not a VPN configuration lands beside KVLService.exe.
    if (!IsServerFileName(entry.file_cnf) || (entry.sub_dir[0] != '\0' && !IsContainedSubDir(entry.sub_dir)))
        return FailDownload(versionValue);

    // The version names the file on disk, or is empty: it is emptied before
    // anything of the entry changes and written only once the file is in
    // place, so a process killed at any point, or an entry that stops short,
    // leaves a version that asks for the file again rather than one that
    // claims a file which never arrived.
    if (!WriteSetting(versionValue, ""))
        return kStoreConfigStopped;
    char baseDir[kConfigBaseDirReadSize];
    if (vpnFile) {
        if (!WriteSetting(kValueConfigFile, entry.file_cnf) || !ReadSetting(kValueConfigDir, baseDir, sizeof baseDir))
            return kStoreConfigStopped;
    } else if (!ReadSetting(kValueInstallDir, baseDir, sizeof baseDir)) {
        return kStoreConfigStopped;
    }
    if (!WriteSetting(kValueConfigUrl, entry.url_cnf) || !WriteSetting(kValueConfigSubDir, entry.sub_dir))
        return kStoreConfigStopped;

    // Both paths are composed before anything is created, so an entry whose
    // file path does not fit leaves no directory behind.
    char dirPath[kConfigDirPathSize] = "";
    char filePath[kConfigFilePathSize];
    const bool hasSubDir = entry.sub_dir[0] != '\0';
    if ((hasSubDir && !ComposeConfigDirPath(dirPath, sizeof dirPath, baseDir, entry.sub_dir)) ||
        !ComposeConfigFilePath(filePath, sizeof filePath, baseDir, entry.sub_dir, entry.file_cnf))
        return FailDownload(versionValue);

    // One level only: a subdirectory whose parent is missing stops the list.
    if (hasSubDir && !CreateDirectoryA(dirPath, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return kStoreConfigStopped;

    // An empty VPN configuration would replace a working one: a failed download.
    if (!FetchConfigFile(entry.url_cnf, filePath, vpnFile ? FetchedBody::kNotEmpty : FetchedBody::kAny, serverCaFile))
        return FailDownload(versionValue);
    // "config_file" names the file but not the subdirectory it went to, and
    // "sub_dir" belongs to whichever entry came last: a block must remove the
    // file that is really there.
    if (vpnFile) {
        char relativePath[sizeof entry.sub_dir + sizeof entry.file_cnf];
        if (!(hasSubDir ? FormatWhole(relativePath, sizeof relativePath, "%s\\%s", entry.sub_dir, entry.file_cnf)
                        : CopyWhole(relativePath, sizeof relativePath, entry.file_cnf)) ||
            !WriteSetting(kValueConfigPath, relativePath))
            return FailDownload(versionValue);
    }
    return WriteSetting(versionValue, entry.v_cnf) ? kStoreConfigDone : kStoreConfigStopped;
}

} // namespace

int CheckConfigUpdate()
{
    char user[kUserLoginReadSize];
    if (!ReadSetting(kValueUserLogin, user, sizeof user))
        return kCheckFailed;
    char configOnly[kConfigOnlyReadSize];
    if (!ReadSetting(kValueConfigOnly, configOnly, sizeof configOnly))
        return kCheckFailed;
    // Sent under the member name "v_cnf" whichever value it comes from.
    const char* versionValue =
        std::strcmp(configOnly, kConfigOnlyVpnFile) == 0 ? kValueConfigVersion : kValueFileVersion;
    char version[kConfigVersionReadSize];
    if (!ReadSetting(versionValue, version, sizeof version))
        return kCheckFailed;

    RequestTarget target;
    if (!ReadRequestTarget(&target))
        return kCheckFailed;
    char body[kRequestBodySize];
    if (!FormatConfigBody(body, sizeof body, user, version, configOnly))
        return kCheckFailed;
    return SendCheckRequest(target, body, StoreConfigFiles);
}

int StoreConfigFiles(const char* serverCaFile)
{
    const ConfigReply& reply = replyRecord.config;
    if (reply.result != 0)
        return kStoreConfigDone;
    for (const ConfigEntry& entry : reply.entries) {
        // The list ends at the first entry without a file name.
        if (entry.file_cnf[0] == '\0')
            return kStoreConfigDone;
        if (StoreConfigEntry(entry, serverCaFile) != kStoreConfigDone)
            return kStoreConfigStopped;
    }
    return kStoreConfigDone;
}
