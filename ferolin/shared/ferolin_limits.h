// Every limit of the library in one place, for a reviewer to check together:
// what a reply may hold, what each settings read accepts, how long a transfer
// may take, and the sizes and waits of the installation and tray commands.
// The read sizes are behaviour: a setting longer than its reader's buffer
// counts as missing for that reader. Platform-independent, so the parser's
// and the bodies' tests and fuzzers see the same numbers.
#pragma once

#include <cstddef>

// --- The reply document --------------------------------------------------------

// What one transfer leaves for the parser (a longer reply is cut to fit).
inline constexpr std::size_t kReplyBufferSize = 15000;

// Field capacities in bytes, terminator included (a field holds one character
// less). A longer reply value is cut to fit.
inline constexpr std::size_t kStatusVersionSize = 20;
inline constexpr std::size_t kStatusTextSize = 20;
inline constexpr std::size_t kStatusMessageSize = 200;
inline constexpr std::size_t kStatusIntSize = 10;
inline constexpr std::size_t kStatusPerSize = 10;

inline constexpr std::size_t kSoftwareVersionSize = 20;
inline constexpr std::size_t kSoftwareUrlSize = 200;
inline constexpr std::size_t kSoftwareFileSize = 104;

inline constexpr std::size_t kConfigVersionSize = 20;
inline constexpr std::size_t kConfigKindSize = 2;
inline constexpr std::size_t kConfigUrlSize = 500;
inline constexpr std::size_t kConfigSubDirSize = 50;
inline constexpr std::size_t kConfigFileSize = 50;

inline constexpr std::size_t kCommandVersionSize = 20;
inline constexpr std::size_t kCommandCodeSize = 5;

// List slots of the configuration and command sections.
inline constexpr int kConfigEntryCount = 50;
inline constexpr int kCommandEntryCount = 20;

// The tokenizer's fixed token array: a reply that needs more is not parsed.
inline constexpr unsigned kReplyTokenCount = 480;

// --- The check requests ----------------------------------------------------------

// Buffer sizes of the settings reads on the request road; a longer value
// counts as missing, so these also bound what a body can carry.
inline constexpr std::size_t kUserLoginReadSize = 20;
inline constexpr std::size_t kPasswordReadSize = 50;
inline constexpr std::size_t kStatusVersionReadSize = 20;
inline constexpr std::size_t kSoftwareVersionReadSize = 20;
inline constexpr std::size_t kCommandVersionReadSize = 20;
inline constexpr std::size_t kConfigOnlyReadSize = 5;
inline constexpr std::size_t kConfigVersionReadSize = 20; // "v_cnf" or "v_file"
inline constexpr std::size_t kUpdateServerReadSize = 255;
inline constexpr std::size_t kInstallDirReadSize = 255;

// 32 hexadecimal digits of an MD5 digest and the terminator.
inline constexpr std::size_t kMd5HexSize = 33;

// The largest configuration file, and the longest its download may take.
// Real ones are small (a WireGuard file under 1 KiB, an OpenVPN profile with
// its certificates and keys inline about 10 KiB, a server list a few KiB), so
// 256 KiB is many times the largest, and even a file that large arrives in
// 60 s at 4.4 KB/s, slower than a dial-up link. Whoever answers a check names
// the URL: without these, a server that trickles a file just above the
// minimum speed holds the monitoring loop, its status checks and its
// seven-day rule, for as long as it likes.
inline constexpr long kConfigDownloadSeconds = 60;
inline constexpr long long kConfigFileBytesLimit = 256 * 1024;
// The largest software package: the product's own package is a few MiB, so
// this leaves room for a client that grows tenfold and more, and still keeps
// a hostile download from filling the disk. A package has no overall time
// limit (a real one over a slow link takes long); the minimum speed ends it
// when the link stops carrying it.
inline constexpr long long kPackageBytesLimit = 128ll * 1024 * 1024;

// How long and how large a transfer may be before it is abandoned. An
// unreachable, stalled or trickling server must not hold the caller (the
// service's monitoring loop) for ever.
struct TransferLimits {
    long connectSeconds;                           // connection set-up, TLS handshake included
    long lowSpeedBytes;                            // a transfer slower than this many bytes a second...
    long lowSpeedSeconds;                          // ...for this long counts as stalled
    long postSeconds;                              // whole POST, from start to last byte
    long configSeconds = kConfigDownloadSeconds;   // whole configuration download
    long long configBytes = kConfigFileBytesLimit; // largest configuration file
    long long packageBytes = kPackageBytesLimit;   // largest package (WinINet download)
};

// The minimum speed, 1 KiB/s over a minute: a link slower than that is not
// carrying a download (even dial-up manages five times as much), and a
// server that trickles below it is cut off within a minute and a few
// seconds. A limit of a byte a second let a server keep a transfer going at
// that pace for as long as it liked.
inline constexpr TransferLimits kDefaultTransferLimits = {30, 1024, 60, 120};

// Receive buffer of a configuration download (held only while a download
// runs). libcurl's default of 16 KiB costs a round trip through the system
// per few packets, which under Wine made a 50 MB download three times slower;
// its largest, 10 MiB, is pages a 32-bit process holds for a file that is at
// most kConfigFileBytesLimit. Measured with bench/run.sh (bench/RESULTS.md),
// 512 KiB keeps more than nine tenths of the gain at a twentieth of the
// pages; 256 KiB kept about four fifths.
inline constexpr long kDownloadBufferBytes = 512 * 1024;

// Redirections a check request follows before it gives up: a server that
// sends the client round in a circle must not have it post its request again
// and again until the POST's time limit.
inline constexpr long kMaxRedirects = 10;

// --- Configuration files -----------------------------------------------------------

// A finished download (configuration file or package) whose target another
// program holds open for a moment (a scanner examining the file just written,
// the VPN service reading its configuration) is moved into place again, up to
// this many tries this far apart: at most 2.7 s more before the download
// counts as failed. Scanners let go within a second.
inline constexpr unsigned kHeldTargetMoveAttempts = 10;
inline constexpr unsigned kHeldTargetMoveWaitMs = 300;

// Buffer of the base directory reads ("config_dir" or the installation
// directory); a longer value counts as missing.
inline constexpr std::size_t kConfigBaseDirReadSize = 200;
// Composed paths: the directory that is created for a subdirectory, and the
// file that is fetched (at most 499 and 254 characters).
inline constexpr std::size_t kConfigDirPathSize = 500;
inline constexpr std::size_t kConfigFilePathSize = 255;

// --- Machine identity ---------------------------------------------------------------

// Capacities of the adapter text and the volume text (39 characters each).
inline constexpr std::size_t kAdapterTextSize = 40;
inline constexpr std::size_t kVolumeTextSize = 40;
// The identity keeps the first five characters of the volume text and the
// last five of the adapter text.
inline constexpr std::size_t kMachineIdPartLength = 5;
inline constexpr std::size_t kMachineIdMaxLength = 2 * kMachineIdPartLength;
// Adapter indexes at or above this are never chosen.
inline constexpr unsigned long kAdapterIndexLimit = 999;
// Address bytes that go into the adapter text, whatever the address length.
inline constexpr std::size_t kAdapterAddressBytes = 6;

// --- Installation and tray commands ---------------------------------------------------
// ("v_sw" is read with kSoftwareVersionReadSize above, by both the check and
// "-update".)

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
// The installation's server CA file that the download reads whole: room for
// a bundle of a few hundred certificates.
inline constexpr std::size_t kServerCaFileBytesLimit = 1024 * 1024;
// The installation's publisher file, read whole for the package check.
inline constexpr std::size_t kPublisherFileBytesLimit = 1024 * 1024;
// A package's signature stream (a signature with its certificates is a few
// kilobytes; a longer one is refused unread).
inline constexpr std::size_t kPackageSignatureBytesLimit = 1024 * 1024;

// "-update": read sizes of its settings, and the installer's command line.
inline constexpr std::size_t kUpdateInstallDirReadSize = 200;
inline constexpr std::size_t kPackageInstallDirReadSize = 255;
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
