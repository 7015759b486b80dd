// What stands between a downloaded package and msiexec: the package must be
// a whole installer database and, where the installation names its
// publisher, signed by that publisher.
#pragma once

#include "win_handles.h"

// The package at `packagePath`, opened so that nobody can change, rename or
// delete it while the handle is held (readers such as msiexec are let in),
// when it passes both checks; an empty handle otherwise. Hold it until the
// installer has run, so what runs is what was checked.
FileHandle OpenAcceptedPackage(const char* packagePath, const char* installDir);
