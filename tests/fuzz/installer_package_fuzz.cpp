// Any bytes as a downloaded package: the reader either refuses them or lists
// a tree whose every stream reads back whole, at exactly its stated size,
// without a read outside the input.
#include <cstdint>
#include <cstdlib>

#include "installer_package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemorySource source(data, size);
    CompoundFile file;
    CompoundResult structure = CompoundResult::kOk;
    const PackageResult result = CheckInstallerPackage(source, &file, &structure);
    if ((result == PackageResult::kMalformed) != (structure != CompoundResult::kOk))
        std::abort();
    if (structure != CompoundResult::kOk) {
        if (!file.Entries().empty())
            std::abort();
        return 0;
    }
    const auto& entries = file.Entries();
    // Each entry takes 128 bytes of the directory, and the file holds it.
    if (entries.empty() || entries.size() > size / 128 || entries[0].kind != CompoundKind::kRoot)
        std::abort();
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const CompoundEntry& entry = entries[i];
        // A storage is listed before what it holds.
        if (entry.parent >= i || entries[entry.parent].kind == CompoundKind::kStream ||
            entry.kind == CompoundKind::kRoot || entry.name.empty() || entry.name.size() > 31)
            std::abort();
        const std::optional<std::size_t> found = file.Find(entry.parent, entry.name);
        if (!found || entries[*found].name != entry.name)
            std::abort();
        if (entry.kind != CompoundKind::kStream)
            continue;
        if (entry.size > size)
            std::abort();
        std::uint64_t seen = 0;
        const bool read = file.ReadStream(i, [&seen](const std::uint8_t*, std::size_t count) {
            seen += count;
            return true;
        });
        if (!read || seen != entry.size)
            std::abort();
    }
    return 0;
}
