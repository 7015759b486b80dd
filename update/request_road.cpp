#include "request_road.h"

#include <cstdio>

#include "https_transport.h"
#include "reply_buffer.h"
#include "reply_parser.h"
#include "settings_names.h"
#include "settings_store.h"

int ReadSetting(const char* name, char* buffer, std::size_t size)
{
    if (ReadRegValue(kSettingsSubkey, name, buffer, static_cast<DWORD>(size)) == 0) {
        // The store leaves the buffer unspecified on failure; never let a
        // caller see a half-read value.
        if (size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return 1;
}

int ReadRequestTarget(RequestTarget* target)
{
    if (!ReadSetting(kValueUpdateServer, target->url, sizeof target->url)) {
        int written = snprintf(target->url, sizeof target->url, "%s", kDefaultUpdateServerUrl);
        if (written < 0 || static_cast<size_t>(written) >= sizeof target->url)
            return 0;
    }
    return ReadSetting(kValueInstallDir, target->installDir, sizeof target->installDir);
}

int SendCheckRequest(const RequestTarget& target, const char* body, StoreStep store)
{
    char certFile[kClientFilePathSize];
    char keyFile[kClientFilePathSize];
    if (!FormatClientFilePath(certFile, sizeof certFile, target.installDir, kClientCertFileName) ||
        !FormatClientFilePath(keyFile, sizeof keyFile, target.installDir, kClientKeyFileName))
        return kCheckFailed;

    if (PostRequest(target.url, body, certFile, kKeyPassPhrase, keyFile) != 0)
        return kCheckFailed;
    if (ParseReply(ReplyBuffer) == 1)
        store();
    return kCheckDone;
}
