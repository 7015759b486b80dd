// What a long-running process holds, measured the same way on Windows and
// under Wine: Wine 8 answers GetProcessHandleCount with 0 handles and
// PROCESS_MEMORY_COUNTERS_EX::PrivateUsage with 0 bytes, so neither is used.
#pragma once

#include <cstddef>

struct ProcessCounters {
    // Committed private memory: the sum of the MEM_COMMIT regions of type
    // MEM_PRIVATE in the address space (VirtualQuery over all of it). The
    // heaps live there, so a leak of allocations shows.
    std::size_t privateBytes = 0;
    // PagefileUsage of GetProcessMemoryInfo, for the record: under Wine it
    // follows the Linux process's resident memory.
    std::size_t pagefileBytes = 0;
    // Handles of this process in the system handle table
    // (NtQuerySystemInformation, SystemHandleInformation); 0 when the table
    // cannot be read.
    unsigned long handles = 0;
};

ProcessCounters ReadProcessCounters();
