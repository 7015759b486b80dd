// Which replies of a download carry the file asked for, for both the
// configuration download and the WinINet one.
#pragma once

inline constexpr long kFirstSuccessStatus = 200;
inline constexpr long kLastSuccessStatus = 299;
inline bool IsSuccessStatus(long status) { return status >= kFirstSuccessStatus && status <= kLastSuccessStatus; }
