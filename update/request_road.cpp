#include "request_road.h"

#include "bounded_format.h"
#include "https_transport.h"
#include "reply_buffer.h"
#include "reply_parser.h"
#include "settings_names.h"
#include "settings_store.h"
#include "win_handles.h"

int ReadRequestTarget(RequestTarget* target)
{
    if (!ReadSetting(kValueUpdateServer, target->url, sizeof target->url) &&
        !CopyWhole(target->url, sizeof target->url, kDefaultUpdateServerUrl))
        return 0;
    return ReadSetting(kValueInstallDir, target->installDir, sizeof target->installDir);
}

int FindServerCaFile(char* out, std::size_t size, const char* installDir)
{
    if (!FormatClientFilePath(out, size, installDir, kServerCaFileName))
        return kServerCaUnusable;
    // The same sharing as the readers that follow (the C runtime's), so a
    // file they could read is not refused here.
    FileHandle file(CreateFileA(out, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kServerCaAbsent : kServerCaUnusable;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return kServerCaUnusable;
    return kServerCaFound;
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
