// The publisher check of a downloaded Windows Installer package: its
// Authenticode signature must be valid, made with a code-signing certificate
// that chains to a certificate of the installation's publisher file (and to
// nothing else), and sign the digest of the package's own content.
//
// Platform-independent (OpenSSL only), so the same check runs in the library,
// in the host tests beside an independent signing tool, and under a fuzzer.
#pragma once

#include <cstddef>
#include <memory>

class CompoundFile;

enum class PackageVerdict {
    kSigned,            // everything holds
    kUnsigned,          // no signature stream
    kMalformedSignature, // the stream is not one signature over indirect data we can read
    kWeakDigest,        // a digest algorithm we do not accept (MD5, SHA-1, unknown)
    kDigestMismatch,    // the content (or its metadata) is not what was signed
    kBadSignature,      // the signature itself does not verify
    kNotTrusted,        // the signer does not chain to the publisher file, or the chain is not valid now
    kNotCodeSigning,    // the signer (or a CA above it) is not for code signing
    kReadFailed,        // a stream of the package could not be read
};

const char* PackageVerdictName(PackageVerdict verdict);

// The certificates of the publisher file. Each one is an anchor: the
// provider's own code-signing certificate or the CA that issues it.
class PublisherCertificates {
public:
    PublisherCertificates();
    ~PublisherCertificates();
    PublisherCertificates(const PublisherCertificates&) = delete;
    PublisherCertificates& operator=(const PublisherCertificates&) = delete;

    // Every PEM certificate block of `text`. 0 when there is none, or when a
    // block does not decode: half a file of anchors is not what was asked for.
    int Load(const char* text, std::size_t size);

    struct Store;
    const Store* store() const { return store_.get(); }

private:
    std::unique_ptr<Store> store_;
};

// The verdict on `package` (already opened and found whole) against
// `publishers` (loaded).
PackageVerdict CheckPackageSignature(const CompoundFile& package, const PublisherCertificates& publishers);
