#include "process_counters.h"

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <vector>

namespace {

// SystemHandleInformation and its records, as ntdll fills them.
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
// The table of a whole machine; doubled until it fits, up to this.
constexpr std::size_t kHandleTableLimit = 64u << 20;

struct SystemHandleEntry {
    ULONG processId;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

unsigned long CountOwnHandles()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return 0;
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (query == nullptr)
        return 0;
    std::vector<unsigned char> buffer(256u << 10);
    LONG status;
    ULONG needed = 0;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           kInfoLengthMismatch) {
        if (buffer.size() >= kHandleTableLimit)
            return 0;
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0)
        return 0;
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    const ULONG self = GetCurrentProcessId();
    unsigned long own = 0;
    for (ULONG i = 0; i < table->count; ++i)
        own += table->entries[i].processId == self ? 1 : 0;
    return own;
}

std::size_t CommittedPrivateBytes()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const auto end = reinterpret_cast<std::uintptr_t>(system.lpMaximumApplicationAddress);
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    std::uintptr_t at = 0;
    while (at < end && VirtualQuery(reinterpret_cast<LPCVOID>(at), &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    return total;
}

} // namespace

ProcessCounters ReadProcessCounters()
{
    ProcessCounters counters;
    counters.privateBytes = CommittedPrivateBytes();
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        counters.pagefileBytes = memory.PagefileUsage;
    counters.handles = CountOwnHandles();
    return counters;
}
