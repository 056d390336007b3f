// The private heap: a region allocator over reserved address space that owns all
// run data; blocks are handed out by moving one offset and released all at once.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kHeapStep = 0x100000;      // reserve and commit granularity: 1 MiB
constexpr int kHeapMaxChunks = 16;            // open named chunks
constexpr uint32_t kRunHeapSize = 0x2000000;  // what main reserves for a run: 32 MiB

struct PrivateHeap {
    unsigned char* base;                     // start of the reserved range; null when none
    uint32_t reserved;                       // bytes reserved from base, multiple of kHeapStep
    uint32_t committed;                      // bytes committed from base, multiple of kHeapStep
    uint32_t used;                           // bytes handed out, multiple of 8
    int32_t chunkCount;                      // open chunks, 0..16
    uint32_t chunkStarts[kHeapMaxChunks];    // `used` at each open chunk's begin
    uint32_t peak;                           // largest `used` since heapInit
    const char* chunkNames[kHeapMaxChunks];  // heap copies of the open chunks' names
};

// Each of these raises a SyncError on failure (ERR_HEAP_...).
void heapInit(PrivateHeap* heap, uint32_t size);
void* heapAlloc(PrivateHeap* heap, uint32_t size);               // null for size 0
char16_t* heapDupWide(PrivateHeap* heap, const char16_t* text);  // null for null
void heapRelease(PrivateHeap* heap);

// Operations the run does not use.
void* heapResize(PrivateHeap* heap, void* block, uint32_t oldSize, uint32_t newSize);
void heapFree(PrivateHeap* heap, void* block, uint32_t size);
void heapBeginChunk(PrivateHeap* heap, const char* name);
void heapEndChunk(PrivateHeap* heap, const char* name);
char* heapDupNarrow(PrivateHeap* heap, const char* text);
char* heapDupNarrowCounted(PrivateHeap* heap, const char* text, uint32_t count);
char16_t* heapDupWideCounted(PrivateHeap* heap, const char16_t* text, uint32_t count);
void heapReport(const PrivateHeap* heap);  // fields and chunks to the debug output
