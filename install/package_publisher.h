// The installation's opt-in publisher check of a downloaded package: when
// bin\publisher.pem is there, a package is installed only when it is signed
// by that publisher.
#pragma once

class CompoundFile;

// Results of CheckPackagePublisher.
inline constexpr int kPublisherNotAsked = 0; // no bin\publisher.pem: nothing to check
inline constexpr int kPublisherConfirmed = 1;
inline constexpr int kPublisherRefused = 2;   // also when the file is there but cannot be read

// `package` has been opened and found whole; `installDir` ends with a
// backslash. The file is looked for once, when the check runs.
int CheckPackagePublisher(const CompoundFile& package, const char* installDir);
