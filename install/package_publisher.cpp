#include "package_publisher.h"

#include <windows.h>

#include <string>

#include "ferolin_limits.h"
#include "package_signature.h"
#include "installation_files.h"
#include "tls_setup.h"
#include "win_handles.h"

namespace {

enum class PublisherFile { kAbsent, kRead, kUnusable };

// The whole file, or why not. Only "not there" means the check was not asked
// for: a file that exists but cannot be opened, is not a plain file, or is too
// large refuses every package, since someone asked for the check.
PublisherFile ReadPublisherFile(const char* installDir, std::string* text)
{
    char path[kClientFilePathSize];
    if (!FormatClientFilePath(path, sizeof path, installDir, kPublisherCertFileName))
        return PublisherFile::kUnusable;
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PublisherFile::kAbsent
                                                                              : PublisherFile::kUnusable;
    }
    LARGE_INTEGER size;
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size) ||
        static_cast<unsigned long long>(size.QuadPart) > kPublisherFileBytesLimit)
        return PublisherFile::kUnusable;
    text->resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!text->empty() && (!ReadFile(file.get(), text->data(), static_cast<DWORD>(text->size()), &got, nullptr) ||
                           got != text->size()))
        return PublisherFile::kUnusable;
    return PublisherFile::kRead;
}

} // namespace

int CheckPackagePublisher(const CompoundFile& package, const char* installDir)
{
    std::string text;
    switch (ReadPublisherFile(installDir, &text)) {
    case PublisherFile::kAbsent:
        return kPublisherNotAsked;
    case PublisherFile::kUnusable:
        return kPublisherRefused;
    case PublisherFile::kRead:
        break;
    }
    // The check's OpenSSL calls must not be the first ones of the process
    // with the configuration file still to be read.
    PublisherCertificates publishers;
    if (!InitTlsWithoutConfiguration() || !publishers.Load(text.data(), text.size()))
        return kPublisherRefused;
    return CheckPackageSignature(package, publishers) == PackageVerdict::kSigned ? kPublisherConfirmed
                                                                                : kPublisherRefused;
}
