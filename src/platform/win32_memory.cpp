// Address-space reservation for the private heap on Windows: VirtualAlloc reserves
// and commits; a heap grown in place consists of several reservations, each of
// which VirtualFree must release whole from its own allocation base.
#include <windows.h>

#include "platform/platform.h"

size_t osAllocationGranularity() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwAllocationGranularity;
}

void* osReserve(size_t size) {
    if (size == 0) return nullptr;
    return VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_READWRITE);
}

void* osReserveAt(void* address, size_t size) {
    if (size == 0) return nullptr;
    void* p = VirtualAlloc(address, size, MEM_RESERVE, PAGE_READWRITE);
    if (p != nullptr && p != address) {
        VirtualFree(p, 0, MEM_RELEASE);
        return nullptr;
    }
    return p;
}

void* osCommit(void* address, size_t size) {
    return VirtualAlloc(address, size, MEM_COMMIT, PAGE_READWRITE);
}

void osReleaseRange(void* address, size_t size) {
    unsigned char* p = static_cast<unsigned char*>(address);
    unsigned char* end = p + size;
    while (p < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(p, &info, sizeof info) == 0 || info.State == MEM_FREE) break;
        // Walk the regions of this reservation to find where it ends, then free it.
        void* allocationBase = info.AllocationBase;
        unsigned char* next = p;
        while (next < end && VirtualQuery(next, &info, sizeof info) != 0 &&
               info.AllocationBase == allocationBase && info.State != MEM_FREE) {
            next = static_cast<unsigned char*>(info.BaseAddress) + info.RegionSize;
        }
        VirtualFree(allocationBase, 0, MEM_RELEASE);
        if (next <= p) break;
        p = next;
    }
}
