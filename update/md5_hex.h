// MD5 digest of a byte string as lower-case hexadecimal text.
#pragma once

#include <cstddef>

#include "ferolin_limits.h"

// Writes the digest of `length` bytes at `data` into `out` (kMd5HexSize bytes,
// zero-filled first). Returns 0, or -1 for a negative length or a failed
// digest (then `out` is left empty).
int Md5Hex(const void* data, int length, char* out);
