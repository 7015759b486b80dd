#include "status_check.h"

#include <cstring>

#include "machine_id.h"
#include "machine_identity_win.h"
#include "md5_hex.h"
#include "reply_record.h"
#include "request_bodies.h"
#include "request_road.h"
#include "settings_names.h"
#include "settings_store.h"

int CheckStatus()
{
    char user[kUserLoginReadSize];
    if (!ReadSetting(kValueUserLogin, user, sizeof user))
        return kCheckFailed;
    char password[kPasswordReadSize];
    if (!ReadSetting(kValuePasswordLogin, password, sizeof password))
        return kCheckFailed;
    char statusVersion[kStatusVersionReadSize];
    ReadSetting(kValueStatusVersion, statusVersion, sizeof statusVersion); // empty when missing

    char adapterText[kAdapterTextSize] = "";
    char identity[kVolumeTextSize] = ""; // starts as the volume text
    ReadAdapterText(adapterText, sizeof adapterText);
    ReadVolumeSerialText(identity, sizeof identity);
    BuildMachineId(identity, adapterText);
    // Stored before the server is asked, so it is there even when the request
    // fails.
    if (!WriteIdentityValue(kValueIdentityKey, identity))
        return kCheckFailed;

    RequestTarget target;
    if (!ReadRequestTarget(&target))
        return kCheckFailed;

    char passwordDigest[kMd5HexSize];
    char identityDigest[kMd5HexSize];
    Md5Hex(password, static_cast<int>(strlen(password)), passwordDigest);
    Md5Hex(identity, static_cast<int>(strlen(identity)), identityDigest);

    char body[kRequestBodySize];
    if (!FormatStatusBody(body, sizeof body, user, passwordDigest, identityDigest, statusVersion))
        return kCheckFailed;
    return SendCheckRequest(target, body, [](const char*) { return StoreStatus(); });
}

int StoreStatus()
{
    const StatusReply& reply = replyRecord.status;
    struct StatusField {
        const char* text;
        const char* valueName;
        int failure;
    };
    const StatusField fields[] = {
        {reply.stt, kValueStatus, kStoreStatusFailed},
        {reply.msg, kValueStatusMessage, kStoreMessageFailed},
        {reply.v_stt, kValueStatusVersion, kStoreStatusVersionFailed},
        {reply.int_stt, kValueStatusInt, kStoreStatusIntFailed},
        {reply.per, kValueStatusPer, kStoreStatusPerFailed},
    };
    for (const StatusField& field : fields) {
        // An empty field leaves the stored value as it was.
        if (field.text[0] == '\0')
            continue;
        if (!WriteSetting(field.valueName, field.text))
            return field.failure;
    }
    return kStoreStatusDone;
}
