// Feeds arbitrary bytes to the reply parser the way a transfer leaves them:
// at most 14999 bytes, NUL-terminated, in a buffer of the reply buffer's size.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reply_buffer.h"
#include "reply_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static char text[kReplyBufferSize];
    const std::size_t length = size < kReplyBufferSize - 1 ? size : kReplyBufferSize - 1;
    std::memcpy(text, data, length);
    std::memset(text + length, 0, kReplyBufferSize - length);
    ParseReply(text);
    return 0;
}
