#include "machine_id.h"

#include <cstdio>
#include <cstring>

#include "bounded_format.h"

std::size_t ChooseAdapter(const AdapterRecord* adapters, std::size_t count)
{
    std::size_t chosen = 0;
    unsigned long lowestIndex = kAdapterIndexLimit;
    for (std::size_t i = 0; i < count; ++i) {
        const AdapterRecord& adapter = adapters[i];
        const bool wired = adapter.type == kAdapterTypeEthernet;
        const bool wireless = adapter.type == kAdapterTypeIeee80211;
        if ((wired || wireless) && adapter.index < lowestIndex) {
            chosen = i;
            lowestIndex = adapter.index;
        }
    }
    return chosen;
}

void FormatAdapterText(const unsigned char* address, char* buffer, std::size_t size)
{
    if (buffer == nullptr || size == 0) {
        return;
    }
    for (std::size_t i = 0; i < kAdapterAddressBytes; ++i) {
        const std::size_t used = strnlen(buffer, size);
        if (used >= size) {
            return; // not even terminated: leave it alone
        }
        const int written = std::snprintf(buffer + used, size - used, "%lu", static_cast<unsigned long>(address[i]));
        if (written < 0 || static_cast<std::size_t>(written) >= size - used) {
            buffer[used] = '\0'; // no partial number
            return;
        }
    }
}

void FormatVolumeText(unsigned long serial, char* buffer, std::size_t size)
{
    if (buffer == nullptr || size == 0) {
        return;
    }
    FormatWhole(buffer, size, "%lu", serial);
}

void BuildMachineId(char* volumeText, const char* adapterText)
{
    const std::size_t adapterLength = strnlen(adapterText, kAdapterTextSize);
    if (adapterLength <= kMachineIdPartLength) {
        return;
    }
    // Five characters and the terminator fit well inside the volume buffer. A
    // volume text shorter than five keeps its own terminator in front of them.
    std::memcpy(volumeText + kMachineIdPartLength, adapterText + adapterLength - kMachineIdPartLength,
                kMachineIdPartLength);
    volumeText[kMachineIdMaxLength] = '\0';
}
