// The publisher check of packages against an independent signer and
// verifier: osslsigncode signs the packages (make-signed-packages.sh), ours
// must accept exactly what `osslsigncode verify` accepts with the same CA,
// for the whole files and for a byte flipped inside every stream.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compound_file.h"
#include "package_signature.h"

namespace {

std::string Package(const std::string& name) { return std::string(KVL_SIGNED_PACKAGES) + "/" + name; }
std::string Pki(const std::string& name) { return std::string(KVL_SIGNING_PKI) + "/" + name; }

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Ours: the verdict's name, or the container's refusal.
std::string OurVerdict(const std::string& bytes, const std::string& publisherPem)
{
    PublisherCertificates publishers;
    if (!publishers.Load(publisherPem.data(), publisherPem.size()))
        return "publisher file refused";
    MemorySource source(bytes.data(), bytes.size());
    CompoundFile file;
    const CompoundResult opened = file.Open(source);
    if (opened != CompoundResult::kOk)
        return std::string("container refused: ") + CompoundResultName(opened);
    return PackageVerdictName(CheckPackageSignature(file, publishers));
}

bool OsslsigncodeAccepts(const std::string& path, const std::string& caFile)
{
    const std::string command =
        "osslsigncode verify -CAfile '" + caFile + "' -in '" + path + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

const std::string kSigned = PackageVerdictName(PackageVerdict::kSigned);

TEST(PackageSignature, AgreesWithOsslsigncodeOnEveryPackage)
{
    const std::string ca = ReadFile(Pki("ca.pem"));
    ASSERT_FALSE(ca.empty()) << "no test PKI at " << Pki("");
    struct Row {
        const char* file;
        PackageVerdict verdict; // kReadFailed stands for "the container is refused"
    } const rows[] = {
        {"good.msi", PackageVerdict::kSigned},
        {"good_ex.msi", PackageVerdict::kSigned},
        {"other.msi", PackageVerdict::kNotTrusted},
        {"expired.msi", PackageVerdict::kNotTrusted},
        {"nocodesign.msi", PackageVerdict::kNotCodeSigning},
        {"unsigned.msi", PackageVerdict::kUnsigned},
        {"cut.msi", PackageVerdict::kReadFailed},
    };
    for (const Row& row : rows) {
        const std::string bytes = ReadFile(Package(row.file));
        ASSERT_FALSE(bytes.empty()) << row.file;
        const std::string ours = OurVerdict(bytes, ca);
        if (row.verdict == PackageVerdict::kReadFailed)
            EXPECT_EQ(ours.rfind("container refused", 0), 0u) << row.file << ": " << ours;
        else
            EXPECT_EQ(ours, PackageVerdictName(row.verdict)) << row.file;
        EXPECT_EQ(OsslsigncodeAccepts(Package(row.file), Pki("ca.pem")), row.verdict == PackageVerdict::kSigned)
            << row.file;
    }
}

// A byte flipped in any stream (the signature's own included) is refused by
// both; with the extended signature, so is a changed time of a stream.
TEST(PackageSignature, AFlippedByteInAnyStreamIsRefusedByBoth)
{
    const std::string ca = ReadFile(Pki("ca.pem"));
    const std::string flippedPath = ::testing::TempDir() + "kvl-flipped.msi";
    for (const char* name : {"good.msi", "good_ex.msi"}) {
        const std::string good = ReadFile(Package(name));
        MemorySource source(good.data(), good.size());
        CompoundFile file;
        ASSERT_EQ(file.Open(source), CompoundResult::kOk) << name;
        int flipped = 0;
        for (std::size_t i = 0; i < file.Entries().size(); ++i) {
            const CompoundEntry& entry = file.Entries()[i];
            std::vector<std::uint8_t> content;
            if (entry.kind != CompoundKind::kStream || entry.size == 0 ||
                !file.ReadWholeStream(i, good.size(), &content))
                continue;
            // The stream's first bytes lie together in the file (a sector or
            // mini sector holds at least 64); flip the first of them where
            // they occur once.
            const std::string head(content.begin(), content.begin() + std::min<std::size_t>(content.size(), 32));
            const std::size_t at = good.find(head);
            if (head.size() < 8 || at == std::string::npos || good.find(head, at + 1) != std::string::npos)
                continue;
            std::string bytes = good;
            bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
            EXPECT_NE(OurVerdict(bytes, ca), kSigned) << name << ": stream " << i;
            // osslsigncode hashes the metadata digest it computes and never
            // compares the stored one; ours refuses a stored one that differs.
            if (entry.name == u"\x0005MsiDigitalSignatureEx")
                continue;
            std::ofstream(flippedPath, std::ios::binary | std::ios::trunc) << bytes;
            EXPECT_FALSE(OsslsigncodeAccepts(flippedPath, Pki("ca.pem"))) << name << ": stream " << i;
            ++flipped;
        }
        // The probe package has its tables, string pool, summary, cabinet
        // and signature: most of them must have been reached.
        EXPECT_GE(flipped, 8) << name;
    }

    // The extended signature covers each entry's times: the directory entry
    // of the summary stream, found by its stored name, gets another time.
    const std::string good = ReadFile(Package("good_ex.msi"));
    const char16_t summary[] = u"\x0005SummaryInformation";
    std::string stored;
    for (char16_t c : summary)
        stored += {static_cast<char>(c & 0xff), static_cast<char>(c >> 8)};
    const std::size_t entry = good.find(stored);
    ASSERT_NE(entry, std::string::npos);
    std::string bytes = good;
    bytes[entry + 108] = static_cast<char>(bytes[entry + 108] ^ 0x01); // modification time
    EXPECT_EQ(OurVerdict(bytes, ca), PackageVerdictName(PackageVerdict::kDigestMismatch));
    std::ofstream(flippedPath, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_FALSE(OsslsigncodeAccepts(flippedPath, Pki("ca.pem")));
}

// Which publisher file decides: the signing certificate itself is an anchor
// too; another CA, or a file with no whole certificate, trusts nothing.
TEST(PackageSignature, OnlyThePublisherFileIsTrusted)
{
    const std::string good = ReadFile(Package("good.msi"));
    EXPECT_EQ(OurVerdict(good, ReadFile(Pki("publisher_cert.pem"))), kSigned);
    EXPECT_EQ(OurVerdict(good, ReadFile(Pki("other_ca.pem"))), PackageVerdictName(PackageVerdict::kNotTrusted));
    EXPECT_EQ(OurVerdict(good, ReadFile(Pki("other_ca.pem")) + ReadFile(Pki("ca.pem"))), kSigned);
    const std::string ca = ReadFile(Pki("ca.pem"));
    for (const std::string& broken : {std::string(), std::string("not a certificate"), ca.substr(0, ca.size() / 2),
                                      ca + "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"})
        EXPECT_EQ(OurVerdict(good, broken), "publisher file refused") << broken;
}

} // namespace
