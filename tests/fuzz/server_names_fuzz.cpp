// Names as the update server may send them (a configuration file name, its
// sub-directory, a package file name) through the name rules and the path
// composition: an accepted name or sub-directory can never lead outside the
// base directory, into bin or to a file the loader maps, and a composed path
// is whole or empty.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "config_paths.h"
#include "file_names.h"
#include "fuzz_input.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A level that Windows would resolve upwards or to the drive: "..", or any
// level of dots and blanks alone.
bool HasEscapingLevel(const std::string& path)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            const std::string level = path.substr(start, i - start);
            if (!level.empty() && level.find_first_not_of(". ") == std::string::npos)
                return true;
            start = i + 1;
        }
    }
    return false;
}

// `text` ends with one of `suffixes` (lower case), in any letter case.
bool EndsWithAny(std::string text, std::initializer_list<std::string> suffixes)
{
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const std::string& suffix : suffixes)
        if (text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> f = SplitFields(data, size, 2);
    const std::string& name = f[0];
    const std::string& subDir = f[1];

    if (IsPlainFileName(name.c_str())) {
        if (name.empty() || name.find_first_of("\\/:") != std::string::npos || HasEscapingLevel(name) ||
            name.back() == '.' || name.back() == ' ')
            std::abort();
    }
    // Never a name the loader maps, nor a folder that redirects its DLLs.
    if (IsServerFileName(name.c_str()) &&
        (!IsPlainFileName(name.c_str()) || EndsWithAny(name, {".dll", ".exe", ".local", ".manifest"})))
        std::abort();
    if (IsContainedSubDir(subDir.c_str())) {
        const std::string first = subDir.substr(0, subDir.find_first_of("\\/"));
        if (subDir.empty() || IsSeparator(subDir[0]) || subDir.find(':') != std::string::npos ||
            HasEscapingLevel(subDir) || EndsWithAny("\\" + first, {"\\bin", ".local"}))
            std::abort();
    }

    char path[kConfigFilePathSize];
    const int whole = ComposeConfigFilePath(path, sizeof path, "C:\\KVL\\config", subDir.c_str(), name.c_str());
    const std::size_t length = strnlen(path, sizeof path);
    if (length >= sizeof path || (whole == 0 && length != 0) || (whole == 1 && length == 0))
        std::abort();
    return 0;
}
