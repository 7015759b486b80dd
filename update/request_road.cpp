#include "request_road.h"

#include "bounded_format.h"
#include "https_transport.h"
#include "installation_files.h"
#include "reply_buffer.h"
#include "reply_parser.h"
#include "server_ca_file.h"
#include "settings_names.h"
#include "settings_store.h"

int ReadRequestTarget(RequestTarget* target)
{
    if (!ReadSetting(kValueUpdateServer, target->url, sizeof target->url) &&
        !CopyWhole(target->url, sizeof target->url, kDefaultUpdateServerUrl))
        return 0;
    return ReadSetting(kValueInstallDir, target->installDir, sizeof target->installDir);
}

int SendCheckRequest(const RequestTarget& target, const char* body, StoreStep store)
{
    char certFile[kClientFilePathSize];
    char keyFile[kClientFilePathSize];
    if (!FormatClientFilePath(certFile, sizeof certFile, target.installDir, kClientCertFileName) ||
        !FormatClientFilePath(keyFile, sizeof keyFile, target.installDir, kClientKeyFileName))
        return kCheckFailed;
    // Looked for once per check, so the request and the downloads of one
    // check agree.
    char caFile[kClientFilePathSize];
    const int serverCa = FindServerCaFile(caFile, sizeof caFile, target.installDir);
    if (serverCa == kServerCaUnusable)
        return kCheckFailed;
    const char* serverCaFile = serverCa == kServerCaFound ? caFile : nullptr;

    if (PostRequest(target.url, body, certFile, kKeyPassPhrase, keyFile, serverCaFile) != 0)
        return kCheckFailed;
    if (ParseReply(ReplyBuffer) == 1)
        store(serverCaFile);
    return kCheckDone;
}
