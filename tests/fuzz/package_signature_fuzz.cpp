// Any bytes as a downloaded package, checked against a publisher file whose
// key signs nothing: whatever the container, signature stream, indirect data
// or certificates hold, the check must refuse them without reading outside
// what it was given.
#include <cstdint>
#include <cstdlib>

#include "compound_file.h"
#include "package_signature.h"

namespace {

// A throw-away anchor; its key was discarded when it was made.
constexpr char kAnchor[] = R"(-----BEGIN CERTIFICATE-----
MIIBgzCCASmgAwIBAgIUX+yrwtLaDzxhezRW8tr3i4unRN0wCgYIKoZIzj0EAwIw
FjEUMBIGA1UEAwwLZnV6eiBhbmNob3IwIBcNMjYxMjA5MTMxNTQ1WhgPMjEyNjEx
MTUxMzE1NDVaMBYxFDASBgNVBAMMC2Z1enogYW5jaG9yMFkwEwYHKoZIzj0CAQYI
KoZIzj0DAQcDQgAEZWbT5JEulVHRkNFrXUQgeURyCP0DsFMcKRIsxNltfssZZtLE
bk/+LBd9Cef1U62fUkDnDSotgEuyB2MA54O8D6NTMFEwHQYDVR0OBBYEFFY594b4
NScwvggBHDzQSZr4voYVMB8GA1UdIwQYMBaAFFY594b4NScwvggBHDzQSZr4voYV
MA8GA1UdEwEB/wQFMAMBAf8wCgYIKoZIzj0EAwIDSAAwRQIhALHXX5u5zelyK8t8
HKnBDgaOVhylodccU4M9nyzH7y8wAiAuj1bYJx3cceP4qu95sPL1d85a7Ksf9xpR
tgaRX/h4SQ==
-----END CERTIFICATE-----
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static PublisherCertificates* publishers = [] {
        auto* loaded = new PublisherCertificates;
        if (!loaded->Load(kAnchor, sizeof kAnchor - 1))
            std::abort();
        return loaded;
    }();
    MemorySource source(data, size);
    CompoundFile file;
    if (file.Open(source) != CompoundResult::kOk)
        return 0;
    if (CheckPackageSignature(file, *publishers) == PackageVerdict::kSigned)
        std::abort();
    return 0;
}
