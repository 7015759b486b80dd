#include "machine_identity_win.h"

#include <cstdlib>
#include <memory>
#include <new>

#include <windows.h>
#include <iphlpapi.h>

#include "ferolin_seams.h"
#include "machine_id.h"
#include "unique_resource.h"

namespace {

// The deliberately short length of the first adapter-list request: it makes
// the call report the size that the whole list needs.
constexpr ULONG kProbeListLength = 4;
// Calls after the size request; each growth between two calls costs one.
constexpr int kAdapterListRetries = 3;

constexpr char kSystemVolumeRoot[] = "C:\\";
constexpr DWORD kVolumeNameSize = MAX_PATH + 1;

using AdapterList = MallocBlock<IP_ADAPTER_INFO>;

AdapterList AllocateAdapterList(ULONG length) { return AdapterList(static_cast<IP_ADAPTER_INFO*>(malloc(length))); }

} // namespace

AdapterListReader readAdapterList = GetAdaptersInfo;

int ReadAdapterText(char* buffer, std::size_t size)
{
    ULONG length = sizeof(IP_ADAPTER_INFO);
    AdapterList list = AllocateAdapterList(length);
    if (!list)
        return 0;
    // An adapter that appears between the size request and the call (the
    // VPN's own adapter comes up just then) makes the list outgrow its
    // buffer: ask again with the new size, a bounded number of times.
    length = kProbeListLength;
    ULONG result = readAdapterList(list.get(), &length);
    for (int retry = 0; result == ERROR_BUFFER_OVERFLOW && retry < kAdapterListRetries; ++retry) {
        list.reset();
        list = AllocateAdapterList(length);
        if (!list)
            return 0;
        result = readAdapterList(list.get(), &length);
    }
    if (result != NO_ERROR)
        return 1;

    std::size_t count = 0;
    for (const IP_ADAPTER_INFO* adapter = list.get(); adapter != nullptr; adapter = adapter->Next)
        ++count;
    if (count == 0)
        return 1;
    std::unique_ptr<AdapterRecord[]> records(new (std::nothrow) AdapterRecord[count]);
    if (!records)
        return 0;
    std::size_t i = 0;
    for (const IP_ADAPTER_INFO* adapter = list.get(); adapter != nullptr; adapter = adapter->Next, ++i) {
        AdapterRecord& record = records[i];
        record.type = adapter->Type;
        record.index = adapter->Index;
        static_assert(sizeof record.address == sizeof adapter->Address);
        for (std::size_t b = 0; b < sizeof record.address; ++b)
            record.address[b] = adapter->Address[b];
        record.addressLength = adapter->AddressLength;
    }

    std::size_t chosen = ChooseAdapter(records.get(), count);
    FormatAdapterText(records[chosen].address, buffer, size);
    return 1;
}

int ReadVolumeSerialText(char* buffer, std::size_t size)
{
    char volumeName[kVolumeNameSize];
    char fileSystemName[kVolumeNameSize];
    DWORD serial = 0;
    DWORD maxComponentLength = 0;
    DWORD flags = 0;
    if (!GetVolumeInformationA(kSystemVolumeRoot, volumeName, kVolumeNameSize, &serial, &maxComponentLength, &flags,
                               fileSystemName, kVolumeNameSize))
        return 0;
    FormatVolumeText(serial, buffer, size);
    return 1;
}
