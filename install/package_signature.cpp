#include "package_signature.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "compound_file.h"
#include "ferolin_limits.h"

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Freer<T, Free>>;

using Bio = Owned<BIO, BIO_free_all>;
using Cert = Owned<X509, X509_free>;
using Pkcs7 = Owned<PKCS7, PKCS7_free>;
using DigestInfo = Owned<X509_SIG, X509_SIG_free>;
using DigestContext = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using StoreContext = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using Object = Owned<ASN1_OBJECT, ASN1_OBJECT_free>;
void FreeCertStack(STACK_OF(X509) * stack) { sk_X509_free(stack); }
using CertList = Owned<STACK_OF(X509), FreeCertStack>;

// The content type of an Authenticode signature: indirect data, which
// carries the digest of the signed file.
constexpr char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";

// The two streams of the root storage that hold the signature; they are left
// out of what is signed.
const std::u16string& SignatureStreamName()
{
    static const std::u16string name = std::u16string(1, char16_t{5}) + u"DigitalSignature";
    return name;
}
const std::u16string& MetadataStreamName()
{
    static const std::u16string name = std::u16string(1, char16_t{5}) + u"MsiDigitalSignatureEx";
    return name;
}

// The byte at `i` of the name as stored (UTF-16 little-endian), its
// terminator included.
std::uint8_t NameByte(const std::u16string& name, std::size_t i)
{
    const std::size_t unit = i / 2;
    const char16_t c = unit < name.size() ? name[unit] : char16_t{0};
    return static_cast<std::uint8_t>(i % 2 == 0 ? c & 0xff : c >> 8);
}

// The order in which the entries of one storage enter the digest: the stored
// name bytes compared one by one, terminator included, as a signing tool
// sees them (not the directory's own order, which compares lengths first).
bool SignedBefore(const CompoundEntry& a, const CompoundEntry& b)
{
    const std::size_t length = (std::min(a.name.size(), b.name.size()) + 1) * 2;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t x = NameByte(a.name, i);
        const std::uint8_t y = NameByte(b.name, i);
        if (x != y)
            return x < y;
    }
    return false;
}

bool IsSignatureStream(const CompoundEntry& entry)
{
    return entry.name == SignatureStreamName() || entry.name == MetadataStreamName();
}

// What each storage holds, in signed order, and whether the entry is the
// root's own signature (which is never hashed).
std::vector<std::vector<std::size_t>> SignedChildren(const CompoundFile& file)
{
    const std::vector<CompoundEntry>& entries = file.Entries();
    std::vector<std::vector<std::size_t>> children(entries.size());
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (entries[i].parent == 0 && IsSignatureStream(entries[i]))
            continue;
        children[entries[i].parent].push_back(i);
    }
    for (std::vector<std::size_t>& list : children)
        std::stable_sort(list.begin(), list.end(),
                         [&](std::size_t a, std::size_t b) { return SignedBefore(entries[a], entries[b]); });
    return children;
}

bool Update(EVP_MD_CTX* digest, const void* data, std::size_t size)
{
    return EVP_DigestUpdate(digest, data, size) == 1;
}

bool UpdateName(EVP_MD_CTX* digest, const std::u16string& name)
{
    std::vector<std::uint8_t> bytes(name.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = NameByte(name, i);
    return Update(digest, bytes.data(), bytes.size());
}

bool UpdateLittleEndian32(EVP_MD_CTX* digest, std::uint32_t value)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return Update(digest, bytes, sizeof bytes);
}

// One entry's metadata as the extended signature covers it: the root gives
// its class and state only; a storage its name, class, state and times; a
// stream its name, size (the low 32 bits as stored), state and times.
bool UpdateMetadata(EVP_MD_CTX* digest, const CompoundEntry& entry)
{
    const bool root = entry.kind == CompoundKind::kRoot;
    if (!root && !UpdateName(digest, entry.name))
        return false;
    if (entry.kind == CompoundKind::kStream ? !UpdateLittleEndian32(digest, static_cast<std::uint32_t>(entry.size))
                                            : !Update(digest, entry.classId.data(), entry.classId.size()))
        return false;
    if (!UpdateLittleEndian32(digest, entry.stateBits))
        return false;
    return root ||
        (Update(digest, entry.created.data(), entry.created.size()) &&
         Update(digest, entry.modified.data(), entry.modified.size()));
}

enum class Walk { kContent, kMetadata };

// The tree in signed order, depth first, without recursion (a package decides
// how deep its storages nest). Content: each stream's bytes, then, once a
// storage's entries are done, its class. Metadata: each entry's metadata as
// it is reached, a storage's before what it holds.
bool HashTree(const CompoundFile& file, const std::vector<std::vector<std::size_t>>& children, Walk walk,
              EVP_MD_CTX* digest, bool* readFailed)
{
    const std::vector<CompoundEntry>& entries = file.Entries();
    struct Frame {
        std::size_t storage;
        std::size_t next;
    };
    std::vector<Frame> stack{{0, 0}};
    if (walk == Walk::kMetadata && !UpdateMetadata(digest, entries[0]))
        return false;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const std::vector<std::size_t>& list = children[frame.storage];
        if (frame.next == list.size()) {
            const CompoundEntry& storage = entries[frame.storage];
            stack.pop_back();
            if (walk == Walk::kContent && !Update(digest, storage.classId.data(), storage.classId.size()))
                return false;
            continue;
        }
        const std::size_t index = list[frame.next++];
        const CompoundEntry& entry = entries[index];
        if (walk == Walk::kMetadata && !UpdateMetadata(digest, entry))
            return false;
        if (entry.kind == CompoundKind::kStorage) {
            stack.push_back({index, 0});
        } else if (walk == Walk::kContent && entry.size > 0) {
            const bool read = file.ReadStream(index, [&](const std::uint8_t* data, std::size_t size) {
                return Update(digest, data, size);
            });
            if (!read) {
                *readFailed = true;
                return false;
            }
        }
    }
    return true;
}

// The package's Authenticode digest: the metadata digest first when the
// package carries the extended signature stream, then the content.
PackageVerdict PackageDigest(const CompoundFile& file, const EVP_MD* md, std::vector<std::uint8_t>* out)
{
    const std::vector<std::vector<std::size_t>> children = SignedChildren(file);
    bool readFailed = false;
    DigestContext digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestInit_ex(digest.get(), md, nullptr) != 1)
        return PackageVerdict::kReadFailed;
    if (const std::optional<std::size_t> stored = file.Find(0, MetadataStreamName())) {
        DigestContext metadata(EVP_MD_CTX_new());
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!metadata || EVP_DigestInit_ex(metadata.get(), md, nullptr) != 1 ||
            !HashTree(file, children, Walk::kMetadata, metadata.get(), &readFailed) ||
            EVP_DigestFinal_ex(metadata.get(), value, &length) != 1 || !Update(digest.get(), value, length))
            return PackageVerdict::kReadFailed;
        // What enters the signed digest is the metadata digest computed here;
        // a stream that says otherwise is not a signature of this package.
        std::vector<std::uint8_t> said;
        if (!file.ReadWholeStream(*stored, EVP_MAX_MD_SIZE, &said) || said.size() != length ||
            CRYPTO_memcmp(said.data(), value, length) != 0)
            return PackageVerdict::kDigestMismatch;
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HashTree(file, children, Walk::kContent, digest.get(), &readFailed) ||
        EVP_DigestFinal_ex(digest.get(), value, &length) != 1)
        return PackageVerdict::kReadFailed;
    out->assign(value, value + length);
    return PackageVerdict::kSigned;
}

// The indirect data's DER inside the signature: `signedBytes` are its
// content octets (what the signer's digest covers), `digestInfo` the
// algorithm and digest of the package it names.
struct IndirectData {
    const unsigned char* signedBytes = nullptr;
    long signedLength = 0;
    DigestInfo digestInfo;
};

// A DER header of a definite length that fits in what is left.
bool ReadHeader(const unsigned char** at, long left, int wantedTag, long* length)
{
    const unsigned char* p = *at;
    int tag = 0;
    int cls = 0;
    const int flags = ASN1_get_object(&p, length, &tag, &cls, left);
    if ((flags & 0x80) != 0 || flags == (V_ASN1_CONSTRUCTED | 1) || cls != V_ASN1_UNIVERSAL || tag != wantedTag ||
        (flags & V_ASN1_CONSTRUCTED) == 0 || *length > left - (p - *at))
        return false;
    *at = p;
    return true;
}

bool ReadIndirectData(PKCS7* signature, IndirectData* data)
{
    if (!PKCS7_type_is_signed(signature) || signature->d.sign == nullptr || signature->d.sign->contents == nullptr)
        return false;
    PKCS7* contents = signature->d.sign->contents;
    Object wanted(OBJ_txt2obj(kIndirectDataOid, 1));
    if (!wanted || contents->type == nullptr || OBJ_cmp(contents->type, wanted.get()) != 0)
        return false;
    const ASN1_TYPE* other = contents->d.other;
    if (other == nullptr || other->type != V_ASN1_SEQUENCE || other->value.sequence == nullptr)
        return false;
    const unsigned char* p = other->value.sequence->data;
    const long whole = other->value.sequence->length;
    long length = 0;
    if (!ReadHeader(&p, whole, V_ASN1_SEQUENCE, &length) ||
        length != whole - (p - other->value.sequence->data))
        return false;
    data->signedBytes = p;
    data->signedLength = length;
    const unsigned char* end = p + length;
    // What kind of file was signed (SpcAttributeTypeAndOptionalValue): the
    // digest is what binds the file, so its content is not looked into.
    long skipped = 0;
    if (!ReadHeader(&p, end - p, V_ASN1_SEQUENCE, &skipped))
        return false;
    p += skipped;
    data->digestInfo.reset(d2i_X509_SIG(nullptr, &p, end - p));
    return data->digestInfo && p == end;
}

const EVP_MD* AcceptedAlgorithm(const X509_ALGOR* algorithm)
{
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    switch (OBJ_obj2nid(oid)) {
    case NID_sha256:
        return EVP_sha256();
    case NID_sha384:
        return EVP_sha384();
    case NID_sha512:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

const EVP_MD* AcceptedDigest(const X509_SIG* info)
{
    const X509_ALGOR* algorithm = nullptr;
    X509_SIG_get0(info, &algorithm, nullptr);
    return AcceptedAlgorithm(algorithm);
}

// The signature's own digest algorithms. Besides refusing weak ones, this
// keeps OpenSSL 3.0's verification away from a digest it cannot set up,
// where it leaks the copy of the content it made.
bool SignedWithAcceptedDigests(PKCS7* signature)
{
    STACK_OF(X509_ALGOR)* algorithms = signature->d.sign->md_algs;
    for (int i = 0; i < sk_X509_ALGOR_num(algorithms); ++i) {
        if (AcceptedAlgorithm(sk_X509_ALGOR_value(algorithms, i)) == nullptr)
            return false;
    }
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(signature);
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers); ++i) {
        if (AcceptedAlgorithm(sk_PKCS7_SIGNER_INFO_value(signers, i)->digest_alg) == nullptr)
            return false;
    }
    return true;
}

bool ForCodeSigning(X509* cert, bool leaf)
{
    const std::uint32_t flags = X509_get_extension_flags(cert);
    const std::uint32_t usages = X509_get_extended_key_usage(cert);
    if (leaf) {
        // The usage must be stated: a certificate that names none is not
        // taken as one for everything.
        if ((flags & EXFLAG_XKUSAGE) == 0 || (usages & XKU_CODE_SIGN) == 0)
            return false;
        return (flags & EXFLAG_KUSAGE) == 0 || (X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE) != 0;
    }
    // A CA that limits its usages must include code signing.
    return (flags & EXFLAG_XKUSAGE) == 0 || (usages & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0;
}

} // namespace

struct PublisherCertificates::Store {
    Owned<X509_STORE, X509_STORE_free> anchors{X509_STORE_new()};
    int count = 0;
};

PublisherCertificates::PublisherCertificates() : store_(std::make_unique<Store>()) { }
PublisherCertificates::~PublisherCertificates() = default;

int PublisherCertificates::Load(const char* text, std::size_t size)
{
    store_ = std::make_unique<Store>();
    if (!store_->anchors || size > kPublisherFileBytesLimit)
        return 0;
    Bio bio(BIO_new_mem_buf(text, static_cast<int>(size)));
    if (!bio)
        return 0;
    int count = 0;
    for (;;) {
        Cert cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert)
            break;
        if (X509_STORE_add_cert(store_->anchors.get(), cert.get()) != 1)
            break;
        ++count;
    }
    // Reading ends at the text's end with "no start line"; anything else is a
    // block that is not a whole certificate.
    const unsigned long error = ERR_peek_last_error();
    const bool atEnd = ERR_GET_LIB(error) == ERR_LIB_PEM && ERR_GET_REASON(error) == PEM_R_NO_START_LINE;
    ERR_clear_error();
    if (!atEnd || count == 0) {
        store_ = std::make_unique<Store>();
        return 0;
    }
    store_->count = count;
    return 1;
}

const char* PackageVerdictName(PackageVerdict verdict)
{
    switch (verdict) {
    case PackageVerdict::kSigned:
        return "signed by the publisher";
    case PackageVerdict::kUnsigned:
        return "unsigned";
    case PackageVerdict::kMalformedSignature:
        return "malformed signature";
    case PackageVerdict::kWeakDigest:
        return "digest algorithm not accepted";
    case PackageVerdict::kDigestMismatch:
        return "content differs from what was signed";
    case PackageVerdict::kBadSignature:
        return "signature does not verify";
    case PackageVerdict::kNotTrusted:
        return "signer not trusted";
    case PackageVerdict::kNotCodeSigning:
        return "signer not for code signing";
    case PackageVerdict::kReadFailed:
        return "package could not be read";
    }
    return "?";
}

PackageVerdict CheckPackageSignature(const CompoundFile& package, const PublisherCertificates& publishers)
{
    const PublisherCertificates::Store* anchors = publishers.store();
    if (anchors == nullptr || anchors->count == 0)
        return PackageVerdict::kNotTrusted;
    const std::optional<std::size_t> stream = package.Find(0, SignatureStreamName());
    if (!stream || package.Entries()[*stream].kind != CompoundKind::kStream)
        return PackageVerdict::kUnsigned;
    std::vector<std::uint8_t> der;
    if (!package.ReadWholeStream(*stream, kPackageSignatureBytesLimit, &der))
        return PackageVerdict::kMalformedSignature;

    const unsigned char* p = der.data();
    Pkcs7 signature(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    IndirectData indirect;
    if (!signature || p != der.data() + der.size() || !ReadIndirectData(signature.get(), &indirect) ||
        sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(signature.get())) != 1) {
        ERR_clear_error();
        return PackageVerdict::kMalformedSignature;
    }
    const EVP_MD* md = AcceptedDigest(indirect.digestInfo.get());
    if (md == nullptr || !SignedWithAcceptedDigests(signature.get()))
        return PackageVerdict::kWeakDigest;

    std::vector<std::uint8_t> computed;
    if (const PackageVerdict read = PackageDigest(package, md, &computed); read != PackageVerdict::kSigned)
        return read;
    const ASN1_OCTET_STRING* signedDigest = nullptr;
    X509_SIG_get0(indirect.digestInfo.get(), nullptr, &signedDigest);
    if (static_cast<std::size_t>(ASN1_STRING_length(signedDigest)) != computed.size() ||
        CRYPTO_memcmp(ASN1_STRING_get0_data(signedDigest), computed.data(), computed.size()) != 0)
        return PackageVerdict::kDigestMismatch;

    // The signer's signature over the indirect data; the chain is checked
    // below against the publisher file alone.
    Bio content(BIO_new_mem_buf(indirect.signedBytes, static_cast<int>(indirect.signedLength)));
    if (!content ||
        PKCS7_verify(signature.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
        ERR_clear_error();
        return PackageVerdict::kBadSignature;
    }
    CertList signers(PKCS7_get0_signers(signature.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) != 1) {
        ERR_clear_error();
        return PackageVerdict::kBadSignature;
    }
    X509* signer = sk_X509_value(signers.get(), 0);

    // Only the file's certificates are anchors, any of them (a CA or the
    // signing certificate itself); what the package carries only links.
    StoreContext context(X509_STORE_CTX_new());
    if (!context ||
        X509_STORE_CTX_init(context.get(), anchors->anchors.get(), signer, signature.get()->d.sign->cert) != 1)
        return PackageVerdict::kNotTrusted;
    X509_STORE_CTX_set_flags(context.get(), X509_V_FLAG_PARTIAL_CHAIN);
    const bool chained = X509_verify_cert(context.get()) == 1;
    ERR_clear_error();
    if (!chained)
        return PackageVerdict::kNotTrusted;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        if (!ForCodeSigning(sk_X509_value(chain, i), i == 0))
            return PackageVerdict::kNotCodeSigning;
    }
    return PackageVerdict::kSigned;
}
