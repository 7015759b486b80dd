#include "reply_buffer.h"

#include <cstdio>
#include <cstring>
#include <limits>

char ReplyBuffer[kReplyBufferSize];
std::uint32_t replyLength = 0;

void ResetReplyBuffer()
{
    std::memset(ReplyBuffer, 0, sizeof ReplyBuffer);
    replyLength = 0;
}

std::size_t ReplySink(char* data, std::size_t size, std::size_t count, void* stream)
{
    // No stream means the caller only wants the buffered reply; writing to an
    // implicit standard output would fail (or leak the reply) in a service.
    std::size_t accepted = count;
    if (stream != nullptr) {
        accepted = std::fwrite(data, size, count, static_cast<std::FILE*>(stream));
    }

    // A chunk whose byte count overflows cannot fit anyway.
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) {
        return accepted;
    }
    const std::size_t bytes = size * count;
    // Keep at least one zero byte behind the text. The length is only ever
    // raised here, but a corrupted one must not turn into a wrapped room.
    if (bytes == 0 || replyLength >= kReplyBufferSize) {
        return accepted;
    }
    const std::size_t room = kReplyBufferSize - replyLength;
    if (bytes < room) {
        std::memcpy(ReplyBuffer + replyLength, data, bytes);
        replyLength += static_cast<std::uint32_t>(bytes);
    }
    return accepted;
}
