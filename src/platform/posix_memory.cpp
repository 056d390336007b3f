// Address-space reservation for the private heap on POSIX: mmap with no access to
// reserve, mprotect to commit, and growth at an exact address that never replaces
// an existing mapping.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/platform.h"

#ifndef MAP_NORESERVE
#define MAP_NORESERVE 0
#endif

namespace {

// Address space left free behind a new reservation. Mappings are placed top-down, so
// the range right after a fresh one is usually an older mapping, and the heap could
// never grow in place; reserving this much more and giving the tail back at once
// leaves a gap that later mappings fill from its far end. 64-bit address space only.
constexpr size_t kGrowthRoom = sizeof(void*) >= 8 ? size_t(1) << 30 : 0;

void* mapNoAccess(void* hint, size_t size, int extraFlags) {
    void* p = mmap(hint, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | extraFlags,
                   -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

size_t osAllocationGranularity() {
    long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<size_t>(page) : 4096;
}

void* osReserve(size_t size) {
    if (size == 0) return nullptr;
    if (kGrowthRoom != 0 && size <= SIZE_MAX - kGrowthRoom) {
        unsigned char* p = static_cast<unsigned char*>(mapNoAccess(nullptr, size + kGrowthRoom, 0));
        if (p != nullptr) {
            munmap(p + size, kGrowthRoom);
            return p;
        }
    }
    return mapNoAccess(nullptr, size, 0);
}

void* osReserveAt(void* address, size_t size) {
    if (size == 0) return nullptr;
#ifdef MAP_FIXED_NOREPLACE
    // A kernel that does not know the flag takes the address as a hint; the check
    // below then catches a mapping placed elsewhere.
    void* p = mapNoAccess(address, size, MAP_FIXED_NOREPLACE);
#else
    void* p = mapNoAccess(address, size, 0);
#endif
    if (p != nullptr && p != address) {
        munmap(p, size);
        return nullptr;
    }
    return p;
}

void* osCommit(void* address, size_t size) {
    if (mprotect(address, size, PROT_READ | PROT_WRITE) != 0) return nullptr;
    return address;
}

void osReleaseRange(void* address, size_t size) {
    if (address != nullptr && size != 0) munmap(address, size);
}
