// The process-wide buffer that a transfer's bytes land in, and the libcurl
// write callback that fills it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ferolin_limits.h"

extern char ReplyBuffer[kReplyBufferSize];
extern std::uint32_t replyLength;

// Fills the buffer with zero bytes and sets the length to 0.
void ResetReplyBuffer();

// libcurl write callback. When `stream` is a FILE*, writes the chunk there and
// returns the item count fwrite reported (a short write fails the transfer).
// When `stream` is null, writes nowhere else and returns `count`. Either way,
// the chunk is appended to ReplyBuffer only when it leaves at least one zero
// byte behind it; a chunk that does not fit is dropped from the buffer whole.
std::size_t ReplySink(char* data, std::size_t size, std::size_t count, void* stream);
