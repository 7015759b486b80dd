// A download's scratch file beside its target: the bytes go there, and only
// a complete transfer is moved over the target. Whatever path the fetch
// leaves by, a scratch file that was not moved into place is removed, so a
// failed or cut transfer leaves no partial file and an earlier file at the
// target is untouched.
//
// Other programs of the VPN client load the library in their own processes
// while the service checks, so two transfers of the same target may run at
// once: each gets a scratch file of its own, created new (never opened if it
// exists), and holds it open from creation until it is in place. A process
// killed in the middle of a transfer leaves its scratch file behind, but no
// longer holds it: the next transfer of the same target removes every
// scratch file that nobody holds, and none that somebody does.
#pragma once

#include <windows.h>

// What follows the target's path in a scratch file's name: a tilde and this
// many decimal digits ("vpn.conf~0417"), in the same folder so that the
// final move is a rename on one volume. Short, so that the longest target
// path with it still fits the file system's ANSI path limit; a name from the
// server never looks like this (a tilde before a digit is refused there), so
// removing leftovers can never touch a file the server sent.
inline constexpr char kPartFileMark = '~';
inline constexpr unsigned kPartFileDigits = 4;
inline constexpr unsigned kPartFileSuffixLength = 1 + kPartFileDigits;

class PartFile {
public:
    // Removes the abandoned scratch files of `target` and creates a new one.
    // `target` must outlive the object.
    explicit PartFile(const char* target);
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile();

    // The scratch file's path, or nullptr when none could be created.
    const char* path() const { return created_ ? path_ : nullptr; }

    // Puts the scratch file at the target, replacing a file there. Returns
    // 1, or 0 when it could not be moved (it is removed then). A scanner
    // that examines the file just written, or the VPN service reading its
    // configuration, holds the target for a moment: a refused move is tried
    // again, up to `attempts` times in all, `waitMs` apart, so that such a
    // moment does not cost a whole download. The file must be closed by
    // whoever wrote it.
    int MoveOver(unsigned attempts, DWORD waitMs);

private:
    const char* target_;
    char path_[MAX_PATH] = "";
    HANDLE hold_ = INVALID_HANDLE_VALUE;
    bool created_ = false;
    bool moved_ = false;
};

// Removes the scratch files of `target` that no transfer holds (left by a
// process that was killed or lost its power). Returns how many remain, held
// by transfers still running.
unsigned RemoveAbandonedPartFiles(const char* target);
