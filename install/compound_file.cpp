#include "compound_file.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;
constexpr std::uint16_t kByteOrderMark = 0xFFFE;
constexpr std::uint16_t kMiniSectorShift = 6;
constexpr std::uint32_t kMiniSectorSize = 1u << kMiniSectorShift;
// Streams shorter than this live in mini sectors.
constexpr std::uint32_t kMiniStreamCutoff = 4096;
// Allocation table sectors named in the header itself; more need the
// extension chain.
constexpr std::uint32_t kHeaderTableSlots = 109;
constexpr std::size_t kHeaderTableOffset = 76;
constexpr std::size_t kDirectoryEntrySize = 128;
constexpr std::size_t kNameBytes = 64;

// Sector numbers with a meaning of their own.
constexpr std::uint32_t kLastRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kExtensionSectorMark = 0xFFFFFFFC;
constexpr std::uint32_t kTableSectorMark = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
// A chain whose length is not known before it is walked (the directory).
constexpr std::uint64_t kUntilEnd = ~std::uint64_t{0};

// Stream reads are gathered over consecutive sectors up to this size.
constexpr std::size_t kReadPiece = 64 * 1024;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t U64(const std::uint8_t* p) { return U32(p) | (static_cast<std::uint64_t>(U32(p + 4)) << 32); }

std::uint64_t SectorsFor(std::uint64_t bytes, std::uint32_t sectorSize) { return (bytes + sectorSize - 1) / sectorSize; }

// A directory entry as stored, before the tree is walked.
struct RawEntry {
    std::uint8_t name[kNameBytes];
    std::uint16_t nameBytes;
    std::uint8_t kind;
    std::uint32_t left, right, child;
    ClassId classId;
    std::uint32_t stateBits;
    std::array<std::uint8_t, 8> created;
    std::array<std::uint8_t, 8> modified;
    std::uint32_t start;
    std::uint64_t size;
};

RawEntry ParseEntry(const std::uint8_t* p)
{
    RawEntry e;
    std::memcpy(e.name, p, kNameBytes);
    e.nameBytes = U16(p + 64);
    e.kind = p[66];
    e.left = U32(p + 68);
    e.right = U32(p + 72);
    e.child = U32(p + 76);
    std::memcpy(e.classId.data(), p + 80, kClassIdSize);
    e.stateBits = U32(p + 96);
    std::memcpy(e.created.data(), p + 100, e.created.size());
    std::memcpy(e.modified.data(), p + 108, e.modified.size());
    e.start = U32(p + 116);
    e.size = U64(p + 120);
    return e;
}

// The stored name without its terminator; empty when the name is not a
// terminated one of 1 to 31 code units without a character the format forbids.
bool DecodeName(const RawEntry& raw, std::u16string* name)
{
    if (raw.nameBytes < 4 || raw.nameBytes > kNameBytes || raw.nameBytes % 2 != 0)
        return false;
    const std::size_t units = raw.nameBytes / 2 - 1;
    name->clear();
    for (std::size_t i = 0; i <= units; ++i) {
        const char16_t unit = static_cast<char16_t>(U16(raw.name + 2 * i));
        if (i == units)
            return unit == 0;
        if (unit == 0 || unit == u'/' || unit == u'\\' || unit == u':' || unit == u'!')
            return false;
        name->push_back(unit);
    }
    return false;
}

} // namespace

bool MemorySource::Read(std::uint64_t offset, void* out, std::size_t count) const
{
    if (offset > size_ || count > size_ - offset)
        return false;
    std::memcpy(out, data_ + offset, count);
    return true;
}

const char* CompoundResultName(CompoundResult result)
{
    switch (result) {
    case CompoundResult::kOk:
        return "ok";
    case CompoundResult::kNotCompoundFile:
        return "not a compound file";
    case CompoundResult::kBadHeader:
        return "bad header";
    case CompoundResult::kOutsideFile:
        return "sector outside the file";
    case CompoundResult::kBadChain:
        return "bad sector chain";
    case CompoundResult::kBadDirectory:
        return "bad directory";
    case CompoundResult::kReadFailed:
        return "read failed";
    }
    return "?";
}

CompoundResult CompoundFile::Open(const CompoundSource& source)
{
    source_ = &source;
    entries_.clear();
    table_.clear();
    miniTable_.clear();
    miniStreamSectors_.clear();
    tableSectorList_.clear();
    CompoundResult result = ReadHeader();
    if (result == CompoundResult::kOk)
        result = ReadAllocationTable();
    if (result == CompoundResult::kOk)
        result = ReadDirectory();
    if (result == CompoundResult::kOk)
        result = CheckStreams();
    if (result != CompoundResult::kOk)
        entries_.clear();
    return result;
}

std::uint64_t CompoundFile::SectorOffset(std::uint32_t sector) const
{
    return (static_cast<std::uint64_t>(sector) + 1) * sectorSize_;
}

CompoundResult CompoundFile::ReadHeader()
{
    std::uint8_t h[kHeaderSize];
    const std::uint64_t fileSize = source_->Size();
    if (fileSize < kHeaderSize)
        return CompoundResult::kNotCompoundFile;
    if (!source_->Read(0, h, sizeof h))
        return CompoundResult::kReadFailed;
    if (std::memcmp(h, kSignature, sizeof kSignature) != 0)
        return CompoundResult::kNotCompoundFile;

    const std::uint16_t major = U16(h + 26);
    const std::uint16_t sectorShift = U16(h + 30);
    if (U16(h + 28) != kByteOrderMark || U16(h + 32) != kMiniSectorShift || U32(h + 56) != kMiniStreamCutoff)
        return CompoundResult::kBadHeader;
    if (!(major == 3 && sectorShift == 9) && !(major == 4 && sectorShift == 12))
        return CompoundResult::kBadHeader;
    // Version 3 files do not count their directory sectors.
    if (major == 3 && U32(h + 40) != 0)
        return CompoundResult::kBadHeader;
    sectorSize_ = 1u << sectorShift;
    if (fileSize < sectorSize_)
        return CompoundResult::kOutsideFile;
    sectorsInFile_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(fileSize / sectorSize_ - 1, static_cast<std::uint64_t>(kLastRegularSector) + 1));

    tableSectors_ = U32(h + 44);
    firstDirectorySector_ = U32(h + 48);
    firstMiniTableSector_ = U32(h + 60);
    miniTableSectors_ = U32(h + 64);
    firstExtraTableSector_ = U32(h + 68);
    extraTableSectors_ = U32(h + 72);
    if (tableSectors_ == 0)
        return CompoundResult::kBadHeader;
    // Each of these sectors must be in the file: this also bounds everything
    // allocated from these counts by the file's size.
    if (tableSectors_ > sectorsInFile_ || miniTableSectors_ > sectorsInFile_ || extraTableSectors_ > sectorsInFile_)
        return CompoundResult::kOutsideFile;
    const std::uint32_t inHeader = std::min(tableSectors_, kHeaderTableSlots);
    for (std::uint32_t i = 0; i < inHeader; ++i)
        tableSectorList_.push_back(U32(h + kHeaderTableOffset + 4 * i));
    return CompoundResult::kOk;
}

CompoundResult CompoundFile::ReadAllocationTable()
{
    used_.assign(sectorsInFile_, false);
    const std::uint32_t perSector = sectorSize_ / 4;
    std::vector<std::uint8_t> buffer(sectorSize_);

    // The extension chain names the table sectors beyond the header's slots:
    // each of its sectors holds perSector - 1 of them and the next sector.
    const std::uint32_t beyondHeader = tableSectors_ - static_cast<std::uint32_t>(tableSectorList_.size());
    const std::uint64_t extraNeeded = SectorsFor(beyondHeader, perSector - 1);
    if (extraTableSectors_ != extraNeeded)
        return CompoundResult::kBadHeader;
    std::vector<std::uint32_t> extraSectors;
    std::uint32_t sector = firstExtraTableSector_;
    for (std::uint32_t k = 0; k < extraTableSectors_; ++k) {
        if (sector >= sectorsInFile_)
            return sector <= kLastRegularSector ? CompoundResult::kOutsideFile : CompoundResult::kBadChain;
        if (used_[sector])
            return CompoundResult::kBadChain;
        used_[sector] = true;
        extraSectors.push_back(sector);
        if (!source_->Read(SectorOffset(sector), buffer.data(), sectorSize_))
            return CompoundResult::kReadFailed;
        for (std::uint32_t i = 0; i + 1 < perSector && tableSectorList_.size() < tableSectors_; ++i)
            tableSectorList_.push_back(U32(buffer.data() + 4 * i));
        sector = U32(buffer.data() + 4 * (perSector - 1));
    }
    if (tableSectorList_.size() != tableSectors_)
        return CompoundResult::kBadChain;

    for (std::uint32_t s : tableSectorList_) {
        if (s >= sectorsInFile_)
            return s <= kLastRegularSector ? CompoundResult::kOutsideFile : CompoundResult::kBadChain;
        if (used_[s])
            return CompoundResult::kBadChain;
        used_[s] = true;
        if (!source_->Read(SectorOffset(s), buffer.data(), sectorSize_))
            return CompoundResult::kReadFailed;
        const std::size_t at = table_.size();
        table_.resize(at + perSector);
        for (std::uint32_t i = 0; i < perSector; ++i)
            table_[at + i] = U32(buffer.data() + 4 * i);
    }
    // The table must mark its own sectors and the extension's as such.
    for (std::uint32_t s : tableSectorList_)
        if (s >= table_.size() || table_[s] != kTableSectorMark)
            return CompoundResult::kBadChain;
    for (std::uint32_t s : extraSectors)
        if (s >= table_.size() || table_[s] != kExtensionSectorMark)
            return CompoundResult::kBadChain;
    // A sector in use beyond the file's end: the file was cut.
    for (std::size_t s = sectorsInFile_; s < table_.size(); ++s)
        if (table_[s] != kFreeSector)
            return CompoundResult::kOutsideFile;
    return CompoundResult::kOk;
}

CompoundResult CompoundFile::CheckChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                        std::uint64_t length, std::uint32_t limit, std::vector<bool>* used,
                                        std::vector<std::uint32_t>* chain) const
{
    if (length == 0)
        return CompoundResult::kOk;
    const bool untilEnd = length == kUntilEnd;
    std::uint32_t sector = start;
    for (std::uint64_t i = 0; i < length; ++i) {
        if (untilEnd && sector == kEndOfChain)
            return CompoundResult::kOk;
        if (sector >= limit)
            return sector <= kLastRegularSector ? CompoundResult::kOutsideFile : CompoundResult::kBadChain;
        // Visiting a sector twice (a loop, or two chains sharing it) ends
        // the walk, so it takes at most `limit` steps.
        if (sector >= table.size() || (*used)[sector])
            return CompoundResult::kBadChain;
        (*used)[sector] = true;
        if (chain)
            chain->push_back(sector);
        sector = table[sector];
    }
    return sector == kEndOfChain ? CompoundResult::kOk : CompoundResult::kBadChain;
}

CompoundResult CompoundFile::ReadDirectory()
{
    std::vector<std::uint32_t> chain;
    CompoundResult result = CheckChain(table_, firstDirectorySector_, kUntilEnd, sectorsInFile_, &used_, &chain);
    if (result != CompoundResult::kOk)
        return result;
    if (chain.empty())
        return CompoundResult::kBadDirectory;

    std::vector<RawEntry> raw;
    std::vector<std::uint8_t> buffer(sectorSize_);
    for (std::uint32_t sector : chain) {
        if (!source_->Read(SectorOffset(sector), buffer.data(), sectorSize_))
            return CompoundResult::kReadFailed;
        for (std::size_t at = 0; at < sectorSize_; at += kDirectoryEntrySize)
            raw.push_back(ParseEntry(buffer.data() + at));
    }
    const RawEntry& root = raw.front();
    if (root.kind != static_cast<std::uint8_t>(CompoundKind::kRoot) || root.left != kNoEntry || root.right != kNoEntry)
        return CompoundResult::kBadDirectory;

    // Storages are expanded in the order they are found; the siblings of
    // each are walked in order with a stack of their own. Every entry is
    // reached at most once, so neither the list nor the stack outgrows the
    // directory, and a tree that loops or shares a branch is refused.
    std::vector<bool> reached(raw.size(), false);
    std::vector<std::uint32_t> ids; // directory index of each listed entry
    reached[0] = true;
    CompoundEntry rootEntry;
    if (!DecodeName(root, &rootEntry.name))
        return CompoundResult::kBadDirectory;
    rootEntry.kind = CompoundKind::kRoot;
    rootEntry.size = sectorSize_ == 512 ? (root.size & 0xFFFFFFFFu) : root.size;
    rootEntry.classId = root.classId;
    rootEntry.start = root.start;
    rootEntry.stateBits = root.stateBits;
    rootEntry.created = root.created;
    rootEntry.modified = root.modified;
    entries_.push_back(rootEntry);
    ids.push_back(0);

    std::vector<std::uint32_t> stack;
    for (std::size_t storage = 0; storage < entries_.size(); ++storage) {
        if (entries_[storage].kind == CompoundKind::kStream)
            continue;
        std::uint32_t node = raw[ids[storage]].child;
        while (node != kNoEntry || !stack.empty()) {
            while (node != kNoEntry) {
                if (node >= raw.size() || reached[node])
                    return CompoundResult::kBadDirectory;
                reached[node] = true;
                stack.push_back(node);
                node = raw[node].left;
            }
            node = stack.back();
            stack.pop_back();
            const RawEntry& e = raw[node];
            CompoundEntry entry;
            if (e.kind != static_cast<std::uint8_t>(CompoundKind::kStorage) &&
                e.kind != static_cast<std::uint8_t>(CompoundKind::kStream))
                return CompoundResult::kBadDirectory;
            if (!DecodeName(e, &entry.name))
                return CompoundResult::kBadDirectory;
            entry.kind = static_cast<CompoundKind>(e.kind);
            entry.parent = storage;
            entry.start = e.start;
            entry.stateBits = e.stateBits;
            entry.created = e.created;
            entry.modified = e.modified;
            if (entry.kind == CompoundKind::kStream) {
                if (e.child != kNoEntry)
                    return CompoundResult::kBadDirectory;
                // Old writers of 512-byte-sector files left the high half
                // of the size uninitialised; such files are valid.
                entry.size = sectorSize_ == 512 ? (e.size & 0xFFFFFFFFu) : e.size;
            } else {
                entry.classId = e.classId;
            }
            entries_.push_back(entry);
            ids.push_back(node);
            node = e.right;
        }
    }
    return CompoundResult::kOk;
}

CompoundResult CompoundFile::CheckStreams()
{
    const std::uint64_t fileSize = source_->Size();
    const CompoundEntry& root = entries_.front();
    if (root.size > fileSize)
        return CompoundResult::kOutsideFile;
    CompoundResult result = CheckChain(table_, root.start, SectorsFor(root.size, sectorSize_), sectorsInFile_, &used_,
                                       &miniStreamSectors_);
    if (result != CompoundResult::kOk)
        return result;

    std::vector<std::uint32_t> miniTableChain;
    result = CheckChain(table_, firstMiniTableSector_, miniTableSectors_, sectorsInFile_, &used_, &miniTableChain);
    if (result != CompoundResult::kOk)
        return result;
    std::vector<std::uint8_t> buffer(sectorSize_);
    for (std::uint32_t sector : miniTableChain) {
        if (!source_->Read(SectorOffset(sector), buffer.data(), sectorSize_))
            return CompoundResult::kReadFailed;
        for (std::uint32_t i = 0; i < sectorSize_ / 4; ++i)
            miniTable_.push_back(U32(buffer.data() + 4 * i));
    }

    const std::uint32_t miniSectors = static_cast<std::uint32_t>(root.size / kMiniSectorSize);
    std::vector<bool> miniUsed(miniSectors, false);
    for (const CompoundEntry& entry : entries_) {
        if (entry.kind != CompoundKind::kStream)
            continue;
        if (entry.size > fileSize)
            return CompoundResult::kOutsideFile;
        result = entry.size < kMiniStreamCutoff
            ? CheckChain(miniTable_, entry.start, SectorsFor(entry.size, kMiniSectorSize), miniSectors, &miniUsed,
                         nullptr)
            : CheckChain(table_, entry.start, SectorsFor(entry.size, sectorSize_), sectorsInFile_, &used_, nullptr);
        if (result != CompoundResult::kOk)
            return result;
    }
    return CompoundResult::kOk;
}

std::optional<std::size_t> CompoundFile::Find(std::size_t storage, std::u16string_view name) const
{
    for (std::size_t i = 1; i < entries_.size(); ++i)
        if (entries_[i].parent == storage && entries_[i].name == name)
            return i;
    return std::nullopt;
}

bool CompoundFile::ReadStream(std::size_t index,
                              const std::function<bool(const std::uint8_t*, std::size_t)>& sink) const
{
    if (index >= entries_.size() || entries_[index].kind != CompoundKind::kStream)
        return false;
    const CompoundEntry& entry = entries_[index];
    std::uint64_t remaining = entry.size;
    std::uint32_t sector = entry.start;

    if (entry.size < kMiniStreamCutoff) {
        std::uint8_t piece[kMiniSectorSize];
        while (remaining > 0) {
            if (sector >= miniTable_.size())
                return false;
            const std::uint64_t at = static_cast<std::uint64_t>(sector) * kMiniSectorSize;
            const std::uint64_t holder = at / sectorSize_;
            if (holder >= miniStreamSectors_.size())
                return false;
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kMiniSectorSize));
            if (!source_->Read(SectorOffset(miniStreamSectors_[holder]) + at % sectorSize_, piece, count) ||
                !sink(piece, count))
                return false;
            remaining -= count;
            sector = miniTable_[sector];
        }
        return true;
    }

    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kReadPiece)));
    while (remaining > 0) {
        // Consecutive sectors are read at once.
        const std::uint32_t first = sector;
        std::size_t run = 0;
        do {
            if (sector >= table_.size())
                return false;
            run += sectorSize_;
            sector = table_[sector];
        } while (run < remaining && run < piece.size() && sector == first + run / sectorSize_);
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, run));
        if (!source_->Read(SectorOffset(first), piece.data(), count) || !sink(piece.data(), count))
            return false;
        remaining -= count;
    }
    return true;
}

bool CompoundFile::ReadWholeStream(std::size_t index, std::uint64_t limit, std::vector<std::uint8_t>* out) const
{
    out->clear();
    if (index >= entries_.size() || entries_[index].size > limit)
        return false;
    out->reserve(static_cast<std::size_t>(entries_[index].size));
    return ReadStream(index, [out](const std::uint8_t* data, std::size_t count) {
        out->insert(out->end(), data, data + count);
        return true;
    });
}
