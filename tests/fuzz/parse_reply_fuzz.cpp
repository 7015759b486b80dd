// Feeds arbitrary bytes to the reply parser the way a transfer leaves them:
// at most 14999 bytes, NUL-terminated, in a buffer of the reply buffer's size.
// Each input is parsed twice: over whatever the inputs before it left in the
// record, and over a record cleared whole. Both must end byte for byte alike,
// so nothing of an earlier reply survives a parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "reply_buffer.h"
#include "reply_parser.h"
#include "reply_record.h"

namespace {

char text[kReplyBufferSize];
ReplyRecord afterEarlierReplies;

void Load(const std::uint8_t* data, std::size_t length)
{
    std::memcpy(text, data, length);
    std::memset(text + length, 0, kReplyBufferSize - length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t length = size < kReplyBufferSize - 1 ? size : kReplyBufferSize - 1;
    Load(data, length);
    if (ParseReply(text) != 1)
        return 0;
    std::memcpy(&afterEarlierReplies, &replyRecord, sizeof replyRecord);

    std::memset(&replyRecord, 0, sizeof replyRecord);
    Load(data, length);
    if (ParseReply(text) != 1 || std::memcmp(&afterEarlierReplies, &replyRecord, sizeof replyRecord) != 0)
        std::abort();
    return 0;
}
