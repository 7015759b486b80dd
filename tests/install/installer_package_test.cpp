// The package reader on real packages built by wixl: a small one (every
// stream in mini sectors) and one of 8 MiB (a cabinet in regular sectors,
// allocation table sectors beyond the header's slots), each whole, cut, and
// with one field of its structure broken the way a damaged or hostile file
// would break it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "installer_package.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::uint32_t Get32(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Byte offsets inside a 512-byte-sector file, found through its header.
std::size_t Sector(std::uint32_t n) { return (static_cast<std::size_t>(n) + 1) * 512; }
std::size_t FirstTableSector(const Bytes& b) { return Sector(Get32(b, 76)); }
std::size_t RootEntry(const Bytes& b) { return Sector(Get32(b, 48)); }

// The directory entry whose name is `name`.
std::size_t EntryNamed(const Bytes& b, const std::u16string& name)
{
    Bytes pattern;
    for (char16_t unit : name) {
        pattern.push_back(static_cast<std::uint8_t>(unit));
        pattern.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    pattern.push_back(0);
    pattern.push_back(0);
    auto at = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
    return at == b.end() ? 0 : static_cast<std::size_t>(at - b.begin());
}

struct Verdict {
    CompoundResult structure;
    PackageResult package;
    bool operator==(const Verdict&) const = default;
};

Verdict Check(const Bytes& bytes)
{
    MemorySource source(bytes.data(), bytes.size());
    CompoundFile file;
    Verdict v{};
    v.package = CheckInstallerPackage(source, &file, &v.structure);
    return v;
}

std::ostream& operator<<(std::ostream& out, const Verdict& v)
{
    return out << CompoundResultName(v.structure) << " / " << static_cast<int>(v.package);
}

} // namespace

TEST(InstallerPackage, WholeCutAndBrokenPackages)
{
    const Bytes kSmall = ReadFile(KVL_SMALL_PACKAGE);
    const Bytes kLarge = ReadFile(KVL_LARGE_PACKAGE);
    ASSERT_GT(kSmall.size(), 4096u) << KVL_SMALL_PACKAGE;
    ASSERT_GT(kLarge.size(), 8u << 20) << KVL_LARGE_PACKAGE;
    const Verdict ok{CompoundResult::kOk, PackageResult::kOk};
    const Verdict malformed = {CompoundResult::kBadHeader, PackageResult::kMalformed};
    auto refused = [](CompoundResult why) { return Verdict{why, PackageResult::kMalformed}; };

    struct Case {
        const char* what;
        const Bytes& from;
        std::function<void(Bytes&)> change;
        Verdict expected;
    };
    const Case cases[] = {
        {"small, whole", kSmall, [](Bytes&) {}, ok},
        {"large, whole", kLarge, [](Bytes&) {}, ok},
        {"small, cut in half", kSmall, [](Bytes& b) { b.resize(b.size() / 2); }, refused(CompoundResult::kOutsideFile)},
        {"small, last sector cut short", kSmall, [](Bytes& b) { b.resize(b.size() - 100); },
         refused(CompoundResult::kOutsideFile)},
        {"large, cut at two thirds", kLarge, [](Bytes& b) { b.resize(b.size() / 3 * 2); },
         refused(CompoundResult::kOutsideFile)},
        {"large, cut by one sector", kLarge, [](Bytes& b) { b.resize(b.size() - 512); },
         refused(CompoundResult::kOutsideFile)},
        {"a text file", kSmall, [](Bytes& b) { b.assign(600, 'x'); }, refused(CompoundResult::kNotCompoundFile)},
        {"empty", kSmall, [](Bytes& b) { b.clear(); }, refused(CompoundResult::kNotCompoundFile)},
        {"header only", kSmall, [](Bytes& b) { b.resize(512); }, refused(CompoundResult::kOutsideFile)},
        {"other byte order", kSmall, [](Bytes& b) { b[28] = 0xFF; }, malformed},
        {"4096-byte sectors claimed in version 3", kSmall, [](Bytes& b) { b[30] = 12; }, malformed},
        {"allocation table of 2^32 - 16 sectors", kSmall, [](Bytes& b) { Put32(b, 44, 0xFFFFFFF0); },
         refused(CompoundResult::kOutsideFile)},
        {"table sector named beyond the end", kSmall, [](Bytes& b) { Put32(b, 76, 0x00FFFFFF); },
         refused(CompoundResult::kOutsideFile)},
        {"extension chain that loops", kLarge,
         [](Bytes& b) {
             const std::uint32_t extension = Get32(b, 68);
             Put32(b, Sector(extension) + 508, extension);
             Put32(b, 44, 109 + 127 + 1);
             Put32(b, 72, 2);
         },
         refused(CompoundResult::kBadChain)},
        {"mini stream chain that loops onto itself", kSmall,
         [](Bytes& b) {
             const std::uint32_t start = Get32(b, RootEntry(b) + 116);
             Put32(b, FirstTableSector(b) + 4 * start, start);
         },
         refused(CompoundResult::kBadChain)},
        {"mini stream chain that ends early", kSmall,
         [](Bytes& b) {
             const std::uint32_t start = Get32(b, RootEntry(b) + 116);
             Put32(b, FirstTableSector(b) + 4 * start, 0xFFFFFFFE);
         },
         refused(CompoundResult::kBadChain)},
        {"directory cut to its first sector", kSmall,
         [](Bytes& b) { Put32(b, FirstTableSector(b) + 4 * Get32(b, 48), 0xFFFFFFFE); },
         refused(CompoundResult::kBadDirectory)},
        {"a sector in use past the end", kSmall,
         [](Bytes& b) { Put32(b, FirstTableSector(b) + 4 * (b.size() / 512 + 3), 0xFFFFFFFE); },
         refused(CompoundResult::kOutsideFile)},
        {"directory tree that loops", kSmall,
         [](Bytes& b) {
             const std::uint32_t child = Get32(b, RootEntry(b) + 76);
             Put32(b, RootEntry(b) + 128 * child + 72, child);
         },
         refused(CompoundResult::kBadDirectory)},
        {"a name longer than its field", kSmall, [](Bytes& b) { b[RootEntry(b) + 64] = 66; },
         refused(CompoundResult::kBadDirectory)},
        {"stream longer than the file", kSmall,
         [](Bytes& b) { Put32(b, EntryNamed(b, u"\x0005SummaryInformation") + 120, 0x7FFFFFFF); },
         refused(CompoundResult::kOutsideFile)},
        {"not an installer database's class", kSmall, [](Bytes& b) { b[RootEntry(b) + 80] ^= 1; },
         {CompoundResult::kOk, PackageResult::kNotADatabase}},
        {"no string pool", kSmall,
         [](Bytes& b) { b[EntryNamed(b, InstallerTableStreamName("_StringPool")) + 2] ^= 1; },
         {CompoundResult::kOk, PackageResult::kMissingStreams}},
        {"no summary information", kSmall,
         [](Bytes& b) { b[EntryNamed(b, u"\x0005SummaryInformation") + 2] ^= 1; },
         {CompoundResult::kOk, PackageResult::kMissingStreams}},
    };
    for (const Case& c : cases) {
        Bytes bytes = c.from;
        c.change(bytes);
        EXPECT_EQ(Check(bytes), c.expected) << c.what;
    }
}

TEST(InstallerPackage, ListsAndReadsTheStreams)
{
    const Bytes kLarge = ReadFile(KVL_LARGE_PACKAGE);
    MemorySource source(kLarge.data(), kLarge.size());
    CompoundFile file;
    ASSERT_EQ(CheckInstallerPackage(source, &file), PackageResult::kOk);
    EXPECT_EQ(file.RootClassId(), kInstallerDatabaseClass);

    // The cabinet holds the 8 MiB payload uncompressed: its header states
    // the cabinet's whole length, and the payload's end lies in sectors that
    // only the extension of the allocation table reaches.
    const Bytes payload = ReadFile(KVL_LARGE_PAYLOAD);
    const std::optional<std::size_t> cabinet = file.Find(0, PackedStreamName("probe.cab"));
    ASSERT_TRUE(cabinet);
    Bytes read;
    ASSERT_TRUE(file.ReadWholeStream(*cabinet, 16u << 20, &read));
    EXPECT_EQ(read.size(), file.Entries()[*cabinet].size);
    ASSERT_GT(read.size(), 12u);
    EXPECT_EQ(std::string(read.begin(), read.begin() + 4), "MSCF");
    EXPECT_EQ(Get32(read, 8), read.size());
    ASSERT_GT(payload.size(), 4096u);
    EXPECT_NE(std::search(read.end() - 8192, read.end(), payload.end() - 4096, payload.end()), read.end());
    EXPECT_FALSE(file.ReadWholeStream(*cabinet, read.size() - 1, &read));

    // A stream in mini sectors: the summary's property set starts with its
    // byte order mark and names the installer database's format.
    const std::optional<std::size_t> summary = file.Find(0, u"\x0005SummaryInformation");
    ASSERT_TRUE(summary);
    ASSERT_TRUE(file.ReadWholeStream(*summary, 4096, &read));
    ASSERT_EQ(read.size(), file.Entries()[*summary].size);
    EXPECT_EQ(read[0], 0xFE);
    EXPECT_EQ(read[1], 0xFF);
    const std::string text(read.begin(), read.end());
    EXPECT_NE(text.find("Installation Database"), std::string::npos);

    std::size_t streams = 0;
    for (const CompoundEntry& entry : file.Entries())
        streams += entry.kind == CompoundKind::kStream && entry.parent == 0;
    EXPECT_EQ(streams + 1, file.Entries().size());
}
