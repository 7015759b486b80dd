#include "reply_record.h"

ReplyRecord replyRecord{};
int entryIndex = 0;
