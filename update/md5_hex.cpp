#include "md5_hex.h"

#include <cstdio>
#include <cstring>

#include <mbedtls/md5.h>

namespace {

constexpr std::size_t kMd5DigestBytes = 16;

// Frees the context on every path.
class Md5Context {
public:
    Md5Context() { mbedtls_md5_init(&ctx_); }
    ~Md5Context() { mbedtls_md5_free(&ctx_); }
    Md5Context(const Md5Context&) = delete;
    Md5Context& operator=(const Md5Context&) = delete;
    mbedtls_md5_context* get() { return &ctx_; }

private:
    mbedtls_md5_context ctx_;
};

} // namespace

int Md5Hex(const void* data, int length, char* out)
{
    std::memset(out, 0, kMd5HexSize);
    if (length < 0 || (data == nullptr && length > 0)) {
        return -1;
    }

    unsigned char digest[kMd5DigestBytes];
    Md5Context ctx;
    if (mbedtls_md5_starts_ret(ctx.get()) != 0 ||
        mbedtls_md5_update_ret(ctx.get(), static_cast<const unsigned char*>(data), static_cast<std::size_t>(length)) !=
            0 ||
        mbedtls_md5_finish_ret(ctx.get(), digest) != 0) {
        return -1;
    }

    static constexpr char kHexDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < kMd5DigestBytes; ++i) {
        out[2 * i] = kHexDigits[digest[i] >> 4];
        out[2 * i + 1] = kHexDigits[digest[i] & 0x0f];
    }
    return 0;
}
