#include "software_check.h"

#include "file_names.h"
#include "reply_record.h"
#include "request_bodies.h"
#include "request_road.h"
#include "settings_names.h"
#include "settings_store.h"

int CheckSoftwareUpdate()
{
    char user[kUserLoginReadSize];
    if (!ReadSetting(kValueUserLogin, user, sizeof user))
        return kCheckFailed;
    char installedVersion[kSoftwareVersionReadSize];
    if (!ReadSetting(kValueSoftwareVersion, installedVersion, sizeof installedVersion))
        return kCheckFailed;

    RequestTarget target;
    if (!ReadRequestTarget(&target))
        return kCheckFailed;
    char body[kRequestBodySize];
    if (!FormatSoftwareBody(body, sizeof body, user, installedVersion))
        return kCheckFailed;
    return SendCheckRequest(target, body, [](const char*) { return StoreSoftwareOffer(); });
}

int StoreSoftwareOffer()
{
    const SoftwareReply& reply = replyRecord.soft;
    // A refusal leaves an earlier offer in place.
    if (reply.result != 0)
        return kStoreOfferDone;
    // The service's clean-up deletes "<installation directory><file_sw>" as
    // LocalSystem: a name that is not a plain file name is refused whole, and
    // the earlier offer stays, as it does for a refusal. The package lands
    // beside KVLService.exe: only its own kind may be loadable.
    if (!IsServerPackageName(reply.file_sw))
        return kStoreOfferNameRefused;
    if (!WriteSetting(kValueNewSoftwareVersion, reply.v_sw))
        return kStoreOfferVersionFailed;
    if (!WriteSetting(kValueSoftwareUrl, reply.url_sw))
        return kStoreOfferUrlFailed;
    if (!WriteSetting(kValueSoftwareFile, reply.file_sw))
        return kStoreOfferFileFailed;
    return kStoreOfferDone;
}
