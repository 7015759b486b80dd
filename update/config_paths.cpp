#include "config_paths.h"

#include <cstring>

#include "bounded_format.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A level that Windows resolves to the directory itself, to its parent or to
// nothing at all once it trims trailing dots and spaces: ".", "..", "...",
// ". ", and so on. An empty level (a doubled separator) is not one of them.
bool IsDotsAndSpaces(const char* begin, const char* end)
{
    if (begin == end)
        return false;
    for (const char* c = begin; c != end; ++c)
        if (*c != '.' && *c != ' ')
            return false;
    return true;
}

} // namespace

int IsContainedSubDir(const char* subDir)
{
    if (subDir == nullptr || subDir[0] == '\0' || IsSeparator(subDir[0]))
        return 0;
    if (std::strchr(subDir, ':') != nullptr)
        return 0;
    const char* level = subDir;
    for (const char* c = subDir;; ++c) {
        if (*c == '\0' || IsSeparator(*c)) {
            if (IsDotsAndSpaces(level, c))
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

int ComposeConfigFilePath(char* out, std::size_t size, const char* baseDir, const char* subDir,
                          const char* fileName)
{
    if (subDir[0] == '\0')
        return FormatWhole(out, size, "%s\\%s", baseDir, fileName);
    return FormatWhole(out, size, "%s\\%s\\%s", baseDir, subDir, fileName);
}
