// The two ingredients of the machine identity, read from the platform.
#pragma once

#include <cstddef>

// Fills `buffer` with the address of the preferred network adapter (six
// address bytes as decimal numbers, run together). The text stays empty when
// the adapter list cannot be read. Returns 0 only when no memory could be had
// for the list.
int ReadAdapterText(char* buffer, std::size_t size);

// Fills `buffer` with the serial number of volume C:\ in decimal. Returns 0,
// with the text left empty, when the volume information cannot be read.
int ReadVolumeSerialText(char* buffer, std::size_t size);
