#include "package_gate.h"

#include <cstdint>

#include "compound_file.h"
#include "installer_package.h"
#include "package_publisher.h"

namespace {

// The package's bytes straight from its file, read where the reader asks.
class FileSource : public CompoundSource {
public:
    FileSource(HANDLE file, std::uint64_t size) : file_(file), size_(size) { }
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* out, std::size_t count) const override
    {
        auto* at = static_cast<char*>(out);
        while (count > 0) {
            OVERLAPPED where = {};
            where.Offset = static_cast<DWORD>(offset);
            where.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD piece = count > kReadPiece ? kReadPiece : static_cast<DWORD>(count);
            DWORD got = 0;
            if (!ReadFile(file_, at, piece, &got, &where) || got != piece)
                return false;
            at += got;
            offset += got;
            count -= got;
        }
        return true;
    }

private:
    static constexpr DWORD kReadPiece = 1u << 20;
    HANDLE file_;
    std::uint64_t size_;
};

} // namespace

FileHandle OpenAcceptedPackage(const char* packagePath, const char* installDir)
{
    FileHandle file(CreateFileA(packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size))
        return FileHandle();
    FileSource source(file.get(), static_cast<std::uint64_t>(size.QuadPart));
    CompoundFile package;
    if (CheckInstallerPackage(source, &package) != PackageResult::kOk ||
        CheckPackagePublisher(package, installDir) == kPublisherRefused)
        return FileHandle();
    return file;
}
