// The downloaded package between its download and the installer run: opened
// once, held so that nobody can change, replace or delete it, and checked to
// be a whole Windows Installer package before msiexec is given its path, and,
// where the installation names its publisher (bin\publisher.pem in
// `installDir`), signed by that publisher.
#pragma once

#include "win_handles.h"

// Opens `path` for reading, shared for reading only, and checks that it is a
// whole installer package (CheckInstallerPackage) and that
// CheckPackagePublisher does not refuse it. On success the file stays
// open in `held`: as long as it is, its content is what was checked, since
// no other handle may write to it or delete it. On failure `held` is empty.
bool HoldCheckedPackage(const char* path, const char* installDir, FileHandle* held);
