// The private heap: one reserved address range, committed a mebibyte at a time and
// handed out by moving `used` forward; it grows only in place and goes back whole.
//
// Sections: rounding and growth; the run's operations; the operations the run does
// not use (resize, free, named chunks, string copies, report).
#include "support/heap.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "support/errors.h"

namespace {

constexpr uint32_t kBlockAlign = 8;             // every block starts on a multiple of 8
constexpr uint64_t kHeapLimit = 0xFFFFFFFFull;  // offsets are 32-bit
constexpr size_t kReportLineSize = 64;          // one line of heapReport

uint64_t roundUp(uint64_t value, uint64_t step) {
    return (value + step - 1) / step * step;
}

void commitAt(PrivateHeap* heap, uint32_t amount) {
    unsigned char* address = heap->base + heap->committed;
    if (osCommit(address, amount) != address) raiseError(ERR_HEAP_COMMIT);
    heap->committed += amount;
}

// Makes [base, base + end) usable: commits inside the reservation first, then grows
// the reservation at the address right behind it and commits there. Raises.
void ensureRoom(PrivateHeap* heap, uint64_t end) {
    if (end > kHeapLimit) raiseError(ERR_HEAP_RESERVE_MORE);
    if (end > heap->committed && heap->reserved > heap->committed) {
        uint64_t wanted = roundUp(end - heap->committed, kHeapStep);
        uint64_t left = heap->reserved - heap->committed;
        commitAt(heap, static_cast<uint32_t>(wanted < left ? wanted : left));
    }
    if (end > heap->reserved) {
        uint64_t more = roundUp(end - heap->reserved, kHeapStep);
        if (heap->reserved + more > kHeapLimit) raiseError(ERR_HEAP_RESERVE_MORE);
        unsigned char* behind = heap->base + heap->reserved;
        if (osReserveAt(behind, static_cast<size_t>(more)) != behind)
            raiseError(ERR_HEAP_RESERVE_MORE);
        heap->reserved += static_cast<uint32_t>(more);
    }
    if (end > heap->committed)
        commitAt(heap, static_cast<uint32_t>(roundUp(end - heap->committed, kHeapStep)));
}

// Offset of `block` when it lies inside the used part, else -1.
int64_t usedOffset(const PrivateHeap* heap, const void* block) {
    const unsigned char* p = static_cast<const unsigned char*>(block);
    if (heap->base == nullptr || p < heap->base || p >= heap->base + heap->used) return -1;
    return p - heap->base;
}

void* copyBlock(PrivateHeap* heap, const void* text, uint32_t bytes, uint32_t terminator) {
    unsigned char* copy = static_cast<unsigned char*>(heapAlloc(heap, bytes + terminator));
    std::memcpy(copy, text, bytes);
    std::memset(copy + bytes, 0, terminator);
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------
// The run's operations
// ---------------------------------------------------------------------------

void heapInit(PrivateHeap* heap, uint32_t size) {
    // A region held before is forgotten, not released: its blocks stay valid.
    heap->base = nullptr;
    heap->reserved = 0;
    heap->committed = 0;
    heap->used = 0;
    heap->chunkCount = 0;
    heap->peak = 0;
    uint64_t rounded = roundUp(size, kHeapStep);
    if (rounded == 0 || rounded > kHeapLimit) raiseError(ERR_HEAP_RESERVE);
    void* base = osReserve(static_cast<size_t>(rounded));
    if (base == nullptr) raiseError(ERR_HEAP_RESERVE);
    heap->base = static_cast<unsigned char*>(base);
    heap->reserved = static_cast<uint32_t>(rounded);
}

void* heapAlloc(PrivateHeap* heap, uint32_t size) {
    if (size == 0) return nullptr;
    uint64_t n = roundUp(size, kBlockAlign);
    if (n > kHeapLimit) raiseError(ERR_HEAP_RESERVE_MORE);
    if (heap->base == nullptr) heapInit(heap, static_cast<uint32_t>(n));
    ensureRoom(heap, uint64_t(heap->used) + n);
    void* block = heap->base + heap->used;
    heap->used += static_cast<uint32_t>(n);
    if (heap->used > heap->peak) heap->peak = heap->used;
    return block;
}

char16_t* heapDupWide(PrivateHeap* heap, const char16_t* text) {
    if (text == nullptr) return nullptr;
    uint32_t length = 0;
    while (text[length] != 0) ++length;
    return static_cast<char16_t*>(copyBlock(heap, text, length * 2, 2));
}

void heapRelease(PrivateHeap* heap) {
    if (heap->base != nullptr) osReleaseRange(heap->base, heap->reserved);
    heap->base = nullptr;
    heap->reserved = 0;
    heap->committed = 0;
    heap->used = 0;
    heap->chunkCount = 0;
    std::memset(heap->chunkNames, 0, sizeof heap->chunkNames);
}

// ---------------------------------------------------------------------------
// Operations the run does not use
// ---------------------------------------------------------------------------

// Only the most recent block can shrink or grow in place; growing any other block
// moves it. A null block allocates; a new size of 0 frees and returns null.
void* heapResize(PrivateHeap* heap, void* block, uint32_t oldSize, uint32_t newSize) {
    if (block == nullptr) return heapAlloc(heap, newSize);
    int64_t offset = usedOffset(heap, block);
    if (offset < 0) raiseError(ERR_HEAP_REALLOC_OUTSIDE);
    uint64_t oldEnd = offset + roundUp(oldSize, kBlockAlign);
    if (newSize == 0) {
        heapFree(heap, block, oldSize);
        return nullptr;
    }
    if (oldEnd == heap->used) {
        uint64_t newEnd = offset + roundUp(newSize, kBlockAlign);
        ensureRoom(heap, newEnd);
        heap->used = static_cast<uint32_t>(newEnd);
        if (heap->used > heap->peak) heap->peak = heap->used;
        return block;
    }
    if (newSize <= oldSize) return block;
    void* moved = heapAlloc(heap, newSize);
    std::memcpy(moved, block, oldSize);
    return moved;
}

// Gives memory back only for the most recent block; any other block stays.
void heapFree(PrivateHeap* heap, void* block, uint32_t size) {
    if (block == nullptr) return;
    int64_t offset = usedOffset(heap, block);
    if (offset < 0) raiseError(ERR_HEAP_FREE_OUTSIDE);
    if (offset + roundUp(size, kBlockAlign) == heap->used)
        heap->used = static_cast<uint32_t>(offset);
}

void heapBeginChunk(PrivateHeap* heap, const char* name) {
    if (heap->chunkCount >= kHeapMaxChunks) raiseErrorText(ERR_HEAP_BEGIN_LIMIT, name);
    // The start is recorded before the name's copy, so the end gives that back too.
    uint32_t start = heap->used;
    const char* copy = heapDupNarrow(heap, name);
    heap->chunkStarts[heap->chunkCount] = start;
    heap->chunkNames[heap->chunkCount] = copy;
    ++heap->chunkCount;
}

void heapEndChunk(PrivateHeap* heap, const char* name) {
    if (heap->chunkCount <= 0) raiseErrorText(ERR_HEAP_END_NO_BEGIN, name);
    const char* open = heap->chunkNames[heap->chunkCount - 1];
    if (open == nullptr || name == nullptr || std::strcmp(open, name) != 0)
        raiseErrorText(ERR_HEAP_END_MISMATCH, name);
    --heap->chunkCount;
    heap->used = heap->chunkStarts[heap->chunkCount];
    heap->chunkNames[heap->chunkCount] = nullptr;
}

char* heapDupNarrow(PrivateHeap* heap, const char* text) {
    if (text == nullptr) return nullptr;
    return static_cast<char*>(copyBlock(heap, text, static_cast<uint32_t>(std::strlen(text)), 1));
}

char* heapDupNarrowCounted(PrivateHeap* heap, const char* text, uint32_t count) {
    if (text == nullptr) return nullptr;
    return static_cast<char*>(copyBlock(heap, text, count, 1));
}

char16_t* heapDupWideCounted(PrivateHeap* heap, const char16_t* text, uint32_t count) {
    if (text == nullptr) return nullptr;
    return static_cast<char16_t*>(copyBlock(heap, text, count * 2, 2));
}

void heapReport(const PrivateHeap* heap) {
    char line[kReportLineSize];
    std::snprintf(line, sizeof line, "Base:         %08llX\n",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(heap->base)));
    osDebugOutput(line);
    std::snprintf(line, sizeof line, "Reserved:     %8u\n", heap->reserved);
    osDebugOutput(line);
    std::snprintf(line, sizeof line, "Committed:    %8u\n", heap->committed);
    osDebugOutput(line);
    std::snprintf(line, sizeof line, "Used:         %8u\n", heap->used);
    osDebugOutput(line);
    std::snprintf(line, sizeof line, "Peak:         %8u\n", heap->peak);
    osDebugOutput(line);
    for (int i = 0; i < heap->chunkCount; ++i) {
        const char* name = heap->chunkNames[i] ? heap->chunkNames[i] : "";
        std::snprintf(line, sizeof line, "%-12s  %8u\n", name, heap->used - heap->chunkStarts[i]);
        osDebugOutput(line);
    }
}
