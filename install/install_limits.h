// Every size and wait of the installation and tray commands, in one place.
// The read sizes are behaviour: a setting longer than its reader's buffer
// counts as missing for that reader.
#pragma once

#include <cstddef>

// Process runner: how long a child is waited for, and how much of its output
// is echoed (one read).
inline constexpr unsigned kExecWaitMs = 20000;
inline constexpr unsigned kShellRunWaitMs = 30000;
inline constexpr std::size_t kExecEchoBytes = 2000;

// Download: one read of the reply body; the longest local file name and
// local path (without the terminator).
inline constexpr unsigned kDownloadChunkBytes = 1024;
inline constexpr std::size_t kDownloadNameLimit = 99;
inline constexpr std::size_t kDownloadPathLimit = 250;

// "-update": read sizes of its settings, and the installer's command line.
inline constexpr std::size_t kUpdateInstallDirReadSize = 200;
inline constexpr std::size_t kPackageInstallDirReadSize = 255;
inline constexpr std::size_t kSoftwareVersionReadSize = 20;
inline constexpr std::size_t kStatusReadSize = 20;
inline constexpr std::size_t kPackageUrlReadSize = 255;
inline constexpr std::size_t kPackageFileReadSize = 50;
inline constexpr std::size_t kInstallUserReadSize = 15;
inline constexpr std::size_t kInstallPasswordReadSize = 50;
inline constexpr std::size_t kInstallerCommandSize = 5000;

// Tray commands: the installation directory's read, the account name, the
// "-commit" command line, the task file's path and each of its three pieces.
inline constexpr std::size_t kTrayInstallDirReadSize = 255;
inline constexpr std::size_t kAccountNameSize = 100;
inline constexpr std::size_t kCommitCommandSize = 256;
inline constexpr std::size_t kTaskFilePathSize = 260;
inline constexpr std::size_t kTaskPieceSize = 1024;
// The Run value and the schtasks parameters around a path of at most 259
// characters.
inline constexpr std::size_t kRunValueSize = 300;
inline constexpr std::size_t kShellParametersSize = 300;

// Interactive user: "config_dir" and the owner file's path, and the buffers
// of the account lookup.
inline constexpr std::size_t kConfigDirReadSize = 255;
inline constexpr std::size_t kOwnerFilePathSize = 255;
inline constexpr unsigned kLookupNameSize = 260;
