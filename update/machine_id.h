// Machine identity: built from the system volume's serial number and the
// address of one network adapter. Platform-independent decisions only; the
// platform calls that gather the inputs live with the Windows code.
#pragma once

#include <cstddef>

#include "ferolin_limits.h"

// Adapter types that may be chosen (the index bound that none reaches is
// kAdapterIndexLimit).
inline constexpr unsigned long kAdapterTypeEthernet = 6;
inline constexpr unsigned long kAdapterTypeIeee80211 = 71;

struct AdapterRecord {
    unsigned long type;
    unsigned long index;
    unsigned char address[8];
    unsigned long addressLength;
};

// Position of the chosen adapter: the Ethernet or 802.11 adapter with the
// lowest index below kAdapterIndexLimit (the earlier one on a tie), else the
// first. Returns 0 for an empty list; callers treat no adapter as empty text.
std::size_t ChooseAdapter(const AdapterRecord* adapters, std::size_t count);

// Appends the first six address bytes as unsigned decimals ("%lu") to the
// NUL-terminated text in `buffer` (capacity `size`); stops before a number
// that would not fit whole.
void FormatAdapterText(const unsigned char* address, char* buffer, std::size_t size);

// Writes `serial` as "%lu" into `buffer`; leaves it empty when it would not fit.
void FormatVolumeText(unsigned long serial, char* buffer, std::size_t size);

// Turns the volume text (in its kVolumeTextSize buffer) into the machine
// identity, in place: when the adapter text is longer than five characters,
// its last five and a terminator are written from the sixth position on.
void BuildMachineId(char* volumeText, const char* adapterText);
