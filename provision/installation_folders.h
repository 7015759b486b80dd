// The installation's folders as the provisioning command leaves them: none of
// them reached through a link, and bin\ closed to everyone but SYSTEM and
// the administrators.
#pragma once

#include <cstddef>
#include <string>

// 1 when `folder` (with or without its closing backslash) is, or lies below,
// a junction or symbolic link; `message` (capacity `size`) then names that
// link. 0 when none of its folders that exist is one.
int IsFolderLinked(const char* folder, char* message, std::size_t size);

// Gives `binFolder` (no closing backslash; created when missing) a DACL that
// grants full control to SYSTEM and Administrators only and inherits nothing
// from its parent, and gives every file in it the same. 1 on success;
// otherwise 0 and `message` says what could not be restricted.
int RestrictBinFolder(const std::string& binFolder, char* message, std::size_t size);
