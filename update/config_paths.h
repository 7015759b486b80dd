// Where a configuration file from the update server lands. The settings key
// names the base directory; the server names the file and its subdirectory.
// The server's names are untrusted: whatever it sends, nothing outside the
// base directory may be created, replaced or removed, so a name is checked
// before it becomes part of a path, and a path that does not fit its buffer is
// never used cut short.
#pragma once

#include <cstddef>

#include "ferolin_limits.h"
#include "file_names.h"

// 1 when `subDir` (one or several levels separated by "\") stays below the
// directory it is appended to: not empty, no leading separator (the root of a
// drive, or a network share), and every level a plain file name by
// IsPlainFileName (so no ".." or other level of dots and blanks, no drive or
// stream, no device name, no 8.3 alias, nothing ending in ".local"), and a
// first level other than "bin" in any letter case. Windows also separates
// levels by "/", so "/" counts as a separator here too; an empty level (a
// doubled or trailing separator) names nothing and is accepted. 0 otherwise.
int IsContainedSubDir(const char* subDir);

// "base\subDir" into `out` (capacity `size`). Returns 1, or 0 with `out`
// emptied when it would not fit.
int ComposeConfigDirPath(char* out, std::size_t size, const char* baseDir, const char* subDir);

// "base\subDir\fileName", or "base\fileName" when `subDir` is empty, into
// `out` (capacity `size`). Returns 1, or 0 with `out` emptied when it would
// not fit. The base is used unchanged: one that ends with "\" yields a
// doubled separator, which the file system accepts.
int ComposeConfigFilePath(char* out, std::size_t size, const char* baseDir, const char* subDir, const char* fileName);
