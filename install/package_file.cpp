#include "package_file.h"

#include "installer_package.h"
#include "package_publisher.h"

namespace {

// The compound-file reader's view of an open file: reads at an offset,
// whole or not at all.
class FileSource : public CompoundSource {
public:
    FileSource(HANDLE file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* out, std::size_t count) const override
    {
        if (offset > size_ || count > size_ - offset)
            return false;
        auto* bytes = static_cast<std::uint8_t*>(out);
        while (count > 0) {
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD want = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
            DWORD got = 0;
            if (!ReadFile(file_, bytes, want, &got, &at) || got == 0)
                return false;
            bytes += got;
            offset += got;
            count -= got;
        }
        return true;
    }

private:
    HANDLE file_;
    std::uint64_t size_;
};

} // namespace

bool HoldCheckedPackage(const char* path, const char* installDir, FileHandle* held)
{
    held->reset();
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || GetFileType(file.get()) != FILE_TYPE_DISK)
        return false;
    FileSource source(file.get(), static_cast<std::uint64_t>(size.QuadPart));
    CompoundFile package;
    if (CheckInstallerPackage(source, &package) != PackageResult::kOk ||
        CheckPackagePublisher(package, installDir) == kPublisherRefused)
        return false;
    *held = std::move(file);
    return true;
}
