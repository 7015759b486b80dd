#include "config_paths.h"

#include <cstring>

#include "bounded_format.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// One level of a subdirectory, [begin, end), under the plain-name rule. An
// empty level (a doubled or trailing separator) names no directory and is
// let through: the file system reads "a\\b" as "a\b" and "a\" as "a".
bool IsPlainLevel(const char* begin, const char* end)
{
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (length == 0)
        return true;
    if (length > kPlainNameLimit)
        return false;
    char level[kPlainNameLimit + 1];
    std::memcpy(level, begin, length);
    level[length] = '\0';
    return IsPlainFileName(level) != 0;
}

// The installation's "bin" holds the client's programs, its certificate pair
// and the server CA file that decides whether the server is verified at all.
bool IsBinLevel(const char* level)
{
    return (level[0] == 'b' || level[0] == 'B') && (level[1] == 'i' || level[1] == 'I') &&
        (level[2] == 'n' || level[2] == 'N') && (level[3] == '\0' || IsSeparator(level[3]));
}

} // namespace

int IsContainedSubDir(const char* subDir)
{
    if (subDir == nullptr || subDir[0] == '\0' || IsSeparator(subDir[0]) || IsBinLevel(subDir))
        return 0;
    const char* level = subDir;
    for (const char* c = subDir;; ++c) {
        if (*c == '\0' || IsSeparator(*c)) {
            if (!IsPlainLevel(level, c))
                return 0;
            if (*c == '\0')
                return 1;
            level = c + 1;
        }
    }
}

int ComposeConfigDirPath(char* out, std::size_t size, const char* baseDir, const char* subDir)
{
    return FormatWhole(out, size, "%s\\%s", baseDir, subDir);
}

int ComposeConfigFilePath(char* out, std::size_t size, const char* baseDir, const char* subDir, const char* fileName)
{
    if (subDir[0] == '\0')
        return FormatWhole(out, size, "%s\\%s", baseDir, fileName);
    return FormatWhole(out, size, "%s\\%s\\%s", baseDir, subDir, fileName);
}
