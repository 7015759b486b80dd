// The installation's opt-in server CA file, looked up the same way by the
// check requests and by the WinINet download.
#pragma once

#include <cstddef>

// What the installation's bin folder says about server verification.
inline constexpr int kServerCaAbsent = 0;   // no kServerCaFileName: not opted in
inline constexpr int kServerCaFound = 1;    // a regular file to verify against
inline constexpr int kServerCaUnusable = 2; // there, or maybe there, but not usable

// Composes the file's path into `out` (capacity `size`). Only a file (or
// folder) that does not exist means "not opted in". A file that exists but
// cannot be opened for reading (held open without sharing by someone, access
// denied), a folder or device of that name, or a path that does not fit, is
// kServerCaUnusable: whoever can make the file unreadable must not be able to
// switch the verification off, so every transfer that would have used it
// fails instead.
int FindServerCaFile(char* out, std::size_t size, const char* installDir);
