// A strict reader of OLE compound files (the container of Windows Installer
// packages). It reads bytes that came from the network inside the caller's
// process, so it checks every size, count and sector number against the file
// before it uses it, walks the directory without recursion, and never
// allocates more than the file's own size can justify.
//
// Open() checks the whole structure once: the header, the allocation tables,
// every chain (each sector inside the file, used by one chain only, exactly as
// long as its stream), and the directory tree (each entry reached once). Only
// then are the entries listed and their streams readable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the file's bytes come from. Read() fills all of `out` or fails.
class CompoundSource {
public:
    virtual ~CompoundSource() = default;
    virtual std::uint64_t Size() const = 0;
    virtual bool Read(std::uint64_t offset, void* out, std::size_t count) const = 0;
};

// Bytes already in memory (tests, the fuzzer). The bytes must outlive it.
class MemorySource : public CompoundSource {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Why a file was refused, one value per stage.
enum class CompoundResult {
    kOk,
    kNotCompoundFile, // too short for a header, or another signature
    kBadHeader,       // a version, byte order, sector size or count it cannot have
    kOutsideFile,     // a referenced sector (or a stream's size) lies beyond the file's end: a cut file
    kBadChain,        // a chain that loops, is shared, is too short or too long, or a wrong table marking
    kBadDirectory,    // an entry of an impossible kind or name, or a tree that reaches one entry twice
    kReadFailed,      // the source could not be read
};

const char* CompoundResultName(CompoundResult result);

enum class CompoundKind : std::uint8_t {
    kStorage = 1,
    kStream = 2,
    kRoot = 5,
};

inline constexpr std::size_t kClassIdSize = 16;
using ClassId = std::array<std::uint8_t, kClassIdSize>;

struct CompoundEntry {
    std::u16string name; // UTF-16 code units as stored, without the terminator
    CompoundKind kind = CompoundKind::kStream;
    std::uint64_t size = 0;   // a stream's length in bytes (0 for storages)
    std::size_t parent = 0;   // index of the storage that holds it (the root holds itself)
    ClassId classId{};        // storages and the root
    std::uint32_t start = 0;  // first sector (regular or mini)
    // As stored; a signature's extended digest covers them.
    std::uint32_t stateBits = 0;
    std::array<std::uint8_t, 8> created{};
    std::array<std::uint8_t, 8> modified{};
};

class CompoundFile {
public:
    // Checks `source` as a whole. The source must outlive this object.
    CompoundResult Open(const CompoundSource& source);

    // Index 0 is the root; every storage comes before what it holds, and the
    // entries of one storage follow the order of its directory tree.
    const std::vector<CompoundEntry>& Entries() const { return entries_; }
    const ClassId& RootClassId() const { return entries_.front().classId; }

    // The entry named `name` (exact code units) directly inside `storage`.
    std::optional<std::size_t> Find(std::size_t storage, std::u16string_view name) const;

    // Hands a stream's bytes to `sink` in order, in pieces; stops with false
    // when a read fails or the sink returns false.
    bool ReadStream(std::size_t entry, const std::function<bool(const std::uint8_t*, std::size_t)>& sink) const;
    // The whole stream, when it holds at most `limit` bytes.
    bool ReadWholeStream(std::size_t entry, std::uint64_t limit, std::vector<std::uint8_t>* out) const;

private:
    CompoundResult ReadHeader();
    CompoundResult ReadAllocationTable();
    CompoundResult CheckChain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::uint64_t length,
                              std::uint32_t limit, std::vector<bool>* used, std::vector<std::uint32_t>* chain) const;
    CompoundResult ReadDirectory();
    CompoundResult CheckStreams();
    std::uint64_t SectorOffset(std::uint32_t sector) const;

    const CompoundSource* source_ = nullptr;
    std::uint32_t sectorSize_ = 0;
    std::uint32_t sectorsInFile_ = 0; // whole sectors after the header's
    std::uint32_t firstDirectorySector_ = 0;
    std::uint32_t firstMiniTableSector_ = 0;
    std::uint32_t miniTableSectors_ = 0;
    std::uint32_t tableSectors_ = 0;
    std::uint32_t firstExtraTableSector_ = 0;
    std::uint32_t extraTableSectors_ = 0;
    std::vector<std::uint32_t> tableSectorList_;
    std::vector<std::uint32_t> table_;     // the allocation table: next sector of each sector
    std::vector<std::uint32_t> miniTable_; // the same for mini sectors
    std::vector<std::uint32_t> miniStreamSectors_;
    std::vector<bool> used_;               // regular sectors claimed by some chain
    std::vector<CompoundEntry> entries_;
};
