// Arbitrary adapter lists and volume serials through the identity rules: the
// choice stays inside the list, the texts stay terminated within their
// buffers, and the identity is at most ten characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "machine_id.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kRecordBytes = 2 * sizeof(unsigned long) + 8 + sizeof(unsigned long);
    AdapterRecord adapters[16];
    std::size_t count = 0;
    std::size_t at = 0;
    // The volume serial number is a 32-bit DWORD on Windows.
    std::uint32_t serial = 0;
    if (size >= sizeof serial) {
        std::memcpy(&serial, data, sizeof serial);
        at = sizeof serial;
    }
    while (count < 16 && size - at >= kRecordBytes) {
        AdapterRecord& record = adapters[count++];
        std::memcpy(&record.type, data + at, sizeof record.type);
        std::memcpy(&record.index, data + at + sizeof record.type, sizeof record.index);
        std::memcpy(record.address, data + at + 2 * sizeof(unsigned long), sizeof record.address);
        std::memcpy(&record.addressLength, data + at + 2 * sizeof(unsigned long) + 8, sizeof record.addressLength);
        at += kRecordBytes;
    }

    const std::size_t chosen = ChooseAdapter(adapters, count);
    if (count > 0 && chosen >= count)
        std::abort();

    char adapterText[kAdapterTextSize] = "";
    if (count > 0)
        FormatAdapterText(adapters[chosen].address, adapterText, sizeof adapterText);
    if (strnlen(adapterText, sizeof adapterText) >= sizeof adapterText)
        std::abort();

    char volumeText[kVolumeTextSize];
    FormatVolumeText(serial, volumeText, sizeof volumeText);
    if (strnlen(volumeText, sizeof volumeText) >= sizeof volumeText)
        std::abort();
    BuildMachineId(volumeText, adapterText);
    if (strnlen(volumeText, sizeof volumeText) > kMachineIdMaxLength)
        std::abort();
    return 0;
}
