#include "installation_folders.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "bounded_format.h"
#include "provision_seams.h"
#include "win_handles.h"

SetNamedSecurityInfoCall setNamedSecurityInfoCall = SetNamedSecurityInfoA;

namespace {

// Full control for SYSTEM and the Administrators group, nothing inherited:
// the client key's pass phrase is the same in every installation, so reading
// the key file is owning the client's identity, and the CA file decides whom
// the checks trust. Folders pass the same entries on to what is created in
// them.
constexpr char kFolderSddl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr char kFileSddl[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// A security descriptor made from SDDL text and the DACL inside it; the DACL
// is null when the text could not be converted.
struct SddlSecurity {
    LocalMemory<void> descriptor;
    PACL dacl = nullptr;

    explicit SddlSecurity(const char* sddl)
    {
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, descriptor.out(), nullptr) &&
            (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present))
            dacl = nullptr;
    }
};

DWORD Restrict(const std::string& path, const SddlSecurity& security)
{
    if (security.dacl == nullptr)
        return ERROR_INVALID_SECURITY_DESCR;
    std::string mutablePath = path;
    return setNamedSecurityInfoCall(mutablePath.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    security.dacl, nullptr);
}

bool IsLink(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

} // namespace

int IsFolderLinked(const char* folder, char* message, std::size_t size)
{
    std::string path = folder;
    // The walk starts below the drive's root or a share (\\server\share\).
    std::size_t start = 0;
    if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
        start = 3;
    } else if (path.rfind("\\\\", 0) == 0) {
        std::size_t server = path.find('\\', 2);
        std::size_t share = server == std::string::npos ? server : path.find('\\', server + 1);
        start = share == std::string::npos ? path.size() : share + 1;
    }
    for (std::size_t end = start; end < path.size(); ++end) {
        if (path[end] == '\\' || (path[end + 1] != '\\' && end + 1 != path.size()))
            continue;
        std::string component = path.substr(0, end + 1);
        DWORD attributes = GetFileAttributesA(component.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return 0;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            FormatWhole(message, size, "%s: a link (junction or symbolic link)", component.c_str());
            return 1;
        }
    }
    message[0] = '\0';
    return 0;
}

int RestrictBinFolder(const std::string& binFolder, char* message, std::size_t size)
{
    CreateDirectoryA(binFolder.c_str(), nullptr);
    if (IsLink(binFolder)) {
        FormatWhole(message, size, "%s: a link (junction or symbolic link)", binFolder.c_str());
        return 0;
    }
    SddlSecurity folderSecurity(kFolderSddl);
    SddlSecurity fileSecurity(kFileSddl);
    DWORD error = Restrict(binFolder, folderSecurity);
    if (error != ERROR_SUCCESS) {
        FormatWhole(message, size, "%s: its permissions could not be restricted (error %lu)", binFolder.c_str(), error);
        return 0;
    }
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA((binFolder + "\\*").c_str(), &found));
    if (!search)
        return 1;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        std::string path = binFolder + "\\" + name;
        error = Restrict(path, isFolder ? folderSecurity : fileSecurity);
        if (error != ERROR_SUCCESS) {
            FormatWhole(message, size, "%s: its permissions could not be restricted (error %lu)", path.c_str(), error);
            break;
        }
    } while (FindNextFileA(search.get(), &found));
    return error == ERROR_SUCCESS ? 1 : 0;
}
