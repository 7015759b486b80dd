#include "request_road.h"

#include <cstdio>

#include "bounded_format.h"
#include "https_transport.h"
#include "reply_buffer.h"
#include "reply_parser.h"
#include "settings_names.h"
#include "settings_store.h"
#include "unique_resource.h"

namespace {

// Looked for once per check, so the request and the downloads of one check
// agree. A file that cannot be read counts as absent: it is the
// installation's own opt-in, and anyone able to make it unreadable in bin
// could as well remove it.
bool IsReadableFile(const char* path)
{
    FileStream file(std::fopen(path, "rb"));
    return file.get() != nullptr;
}

} // namespace

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
    char caFile[kClientFilePathSize];
    if (!FormatClientFilePath(certFile, sizeof certFile, target.installDir, kClientCertFileName) ||
        !FormatClientFilePath(keyFile, sizeof keyFile, target.installDir, kClientKeyFileName) ||
        !FormatClientFilePath(caFile, sizeof caFile, target.installDir, kServerCaFileName))
        return kCheckFailed;
    const char* serverCaFile = IsReadableFile(caFile) ? caFile : nullptr;

    if (PostRequest(target.url, body, certFile, kKeyPassPhrase, keyFile, serverCaFile) != 0)
        return kCheckFailed;
    if (ParseReply(ReplyBuffer) == 1)
        store(serverCaFile);
    return kCheckDone;
}
