// The library's access to the settings key, the identity key and the Run key.
// Each call opens its key, does one access and closes the key on every path.
#pragma once

#include <windows.h>

#include <cstddef>

// Reads the REG_SZ value `name` of HKLM\subkey (32-bit view) into `buffer`.
// Returns the bytes stored including the terminating NUL (1 for an empty
// text), or 0 when the key or value is missing, the type is not REG_SZ or the
// text with its terminator does not fit in `size` bytes. A value stored by
// another program without its terminator is returned terminated when the
// terminator fits and as absent otherwise. An empty `name` reads the default
// value.
int ReadRegValue(const char* subkey, const char* name, char* buffer, DWORD size);

// Sets `name` of HKLM\subkey to `text` as REG_SZ. Never creates the key.
// Returns 1, or 0 when the open or the write fails.
int WriteRegValue(const char* subkey, const char* name, const char* text);

// Deletes `name` of HKLM\subkey. Returns 1, or 0 when the open or the delete
// fails (a missing value is a failure).
int DeleteRegValue(const char* subkey, const char* name);

// Sets `name` of HKCR\Pelmora.VPNKorv to `text`, creating the key on first use.
// Returns 1, or 0 when the key cannot be opened or created or the write fails.
int WriteIdentityValue(const char* name, const char* text);

// The library's access to its own settings key (the catalogue's
// kSettingsSubkey); every check and command reads and writes through these.

// Reads the settings value `name` into `buffer`. Returns 1, or 0 when the
// value is missing, not a string or does not fit in `size` bytes (the buffer
// then holds an empty text).
int ReadSetting(const char* name, char* buffer, std::size_t size);

// Writes `text` as the settings value `name`. Returns 1, or 0 when the key is
// missing (it is never created here) or the write fails.
int WriteSetting(const char* name, const char* text);
