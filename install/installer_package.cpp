#include "installer_package.h"

namespace {

// Table names are packed from this 64-character alphabet; any other
// character is stored as itself.
constexpr char16_t kTableMarker = 0x4840;
constexpr char16_t kPairBase = 0x3800;
constexpr char16_t kSingleBase = 0x4800;
constexpr int kAlphabetBits = 6;

int AlphabetIndex(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 36;
    if (c == '.')
        return 62;
    if (c == '_')
        return 63;
    return -1;
}

constexpr std::string_view kDatabaseTables[] = {"_Tables", "_Columns", "_StringPool", "_StringData"};
constexpr char16_t kSummaryInformation[] = u"\x0005SummaryInformation";

} // namespace

const ClassId kInstallerDatabaseClass = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

std::u16string InstallerTableStreamName(std::string_view table)
{
    return kTableMarker + PackedStreamName(table);
}

std::u16string PackedStreamName(std::string_view text)
{
    std::u16string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int first = AlphabetIndex(text[i]);
        if (first < 0) {
            name.push_back(static_cast<unsigned char>(text[i]));
            continue;
        }
        const int second = i + 1 < text.size() ? AlphabetIndex(text[i + 1]) : -1;
        if (second < 0) {
            name.push_back(static_cast<char16_t>(kSingleBase + first));
            continue;
        }
        name.push_back(static_cast<char16_t>(kPairBase + first + (second << kAlphabetBits)));
        ++i;
    }
    return name;
}

PackageResult CheckInstallerPackage(const CompoundSource& source, CompoundFile* file, CompoundResult* structure)
{
    const CompoundResult opened = file->Open(source);
    if (structure)
        *structure = opened;
    if (opened != CompoundResult::kOk)
        return PackageResult::kMalformed;
    if (file->RootClassId() != kInstallerDatabaseClass)
        return PackageResult::kNotADatabase;
    for (std::string_view table : kDatabaseTables) {
        const std::optional<std::size_t> found = file->Find(0, InstallerTableStreamName(table));
        if (!found || file->Entries()[*found].kind != CompoundKind::kStream)
            return PackageResult::kMissingStreams;
    }
    const std::optional<std::size_t> summary = file->Find(0, kSummaryInformation);
    if (!summary || file->Entries()[*summary].kind != CompoundKind::kStream)
        return PackageResult::kMissingStreams;
    return PackageResult::kOk;
}
