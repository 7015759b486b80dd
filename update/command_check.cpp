#include "command_check.h"

#include "reply_record.h"
#include "request_bodies.h"
#include "request_road.h"
#include "settings_names.h"
#include "settings_store.h"

int CheckCommandUpdate()
{
    char user[kUserLoginReadSize];
    if (!ReadSetting(kValueUserLogin, user, sizeof user))
        return kCheckFailed;
    char listVersion[kCommandVersionReadSize];
    if (!ReadSetting(kValueCommandVersion, listVersion, sizeof listVersion))
        return kCheckFailed;

    RequestTarget target;
    if (!ReadRequestTarget(&target))
        return kCheckFailed;
    char body[kRequestBodySize];
    if (!FormatCommandBody(body, sizeof body, user, listVersion))
        return kCheckFailed;
    return SendCheckRequest(target, body, [](const char*) { return StoreCommands(); });
}

int StoreCommands()
{
    const CommandReply& reply = replyRecord.command;
    if (reply.result != 0)
        return kStoreCommandsDone;
    for (const CommandEntry& entry : reply.entries) {
        // The list ends at the first entry without a code.
        if (entry.cod_cmd[0] == '\0')
            return kStoreCommandsDone;
        const CommandSlot* slot = FindCommandSlot(entry.cod_cmd);
        if (slot == nullptr)
            continue;
        // Reply order: a later entry with the same code overwrites the slot.
        if (!WriteSetting(slot->codeValue, entry.cod_cmd) || !WriteSetting(slot->versionValue, entry.v_cmd))
            return kStoreCommandsFailed;
    }
    return kStoreCommandsDone;
}
