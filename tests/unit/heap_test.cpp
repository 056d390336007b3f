// Private heap: block rounding, the first region, commit steps, growth in place and
// its failure when the range behind is taken, and the little-used operations.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "raised_code.h"
#include "support/errors.h"
#include "support/heap.h"

namespace {

struct HeapTest : ::testing::Test {
    PrivateHeap heap{};
    ~HeapTest() override { heapRelease(&heap); }
};

TEST_F(HeapTest, RoundsBlocksToEightAndIgnoresZero) {
    heapInit(&heap, kRunHeapSize);
    auto* a = static_cast<unsigned char*>(heapAlloc(&heap, 1));
    auto* b = static_cast<unsigned char*>(heapAlloc(&heap, 1));
    EXPECT_EQ(b - a, 8);
    EXPECT_EQ(heap.used, 16u);
    EXPECT_EQ(heapAlloc(&heap, 0), nullptr);
    EXPECT_EQ(heap.used, 16u);
    auto* c = static_cast<unsigned char*>(heapAlloc(&heap, 9));
    EXPECT_EQ(c - b, 8);
    EXPECT_EQ(heap.used, 32u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(heap.base) % osAllocationGranularity(), 0u);
}

TEST_F(HeapTest, FirstAllocationOnClearedRecordReservesOneMebibyte) {
    void* block = heapAlloc(&heap, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block, heap.base);
    EXPECT_EQ(heap.reserved, 0x100000u);
    EXPECT_EQ(heap.committed, 0x100000u);
    EXPECT_EQ(heap.used, 104u);
    EXPECT_EQ(heap.peak, 104u);
}

TEST_F(HeapTest, FirstRegionFitsALargeFirstRequest) {
    heapAlloc(&heap, 0x100001);
    EXPECT_EQ(heap.reserved, 0x200000u);
    EXPECT_EQ(heap.committed, 0x200000u);
    EXPECT_EQ(heap.used, 0x100008u);
}

TEST_F(HeapTest, CommitsOneMebibyteAtATime) {
    heapInit(&heap, kRunHeapSize);
    EXPECT_EQ(heap.reserved, kRunHeapSize);
    EXPECT_EQ(heap.committed, 0u);
    EXPECT_EQ(heap.used, 0u);
    heapAlloc(&heap, 16);
    EXPECT_EQ(heap.committed, 0x100000u);
    heapAlloc(&heap, 0x100000 - 16);  // fills the first mebibyte exactly
    EXPECT_EQ(heap.committed, 0x100000u);
    auto* crossing = static_cast<unsigned char*>(heapAlloc(&heap, 8));
    EXPECT_EQ(heap.committed, 0x200000u);
    crossing[7] = 1;  // committed memory is writable
    heapAlloc(&heap, 0x250000);
    EXPECT_EQ(heap.committed, 0x400000u);
    EXPECT_LE(heap.committed, heap.reserved);
    EXPECT_EQ(heap.peak, heap.used);
}

TEST_F(HeapTest, GrowsTheReservationInPlace) {
    heapInit(&heap, 0x100000);
    unsigned char* base = heap.base;
    heapAlloc(&heap, 0x100000);
    EXPECT_EQ(heap.committed, heap.reserved);
    auto* behind = static_cast<unsigned char*>(heapAlloc(&heap, 24));
    EXPECT_EQ(heap.base, base);
    EXPECT_EQ(behind, base + 0x100000);
    EXPECT_EQ(heap.reserved, 0x200000u);
    EXPECT_EQ(heap.committed, 0x200000u);
    std::memset(behind, 0x5A, 24);
    // A request larger than a step grows the reservation by its own rounded size.
    auto* big = static_cast<unsigned char*>(heapAlloc(&heap, 0x280000));
    EXPECT_EQ(big, base + 0x100000 + 24);
    EXPECT_EQ(heap.reserved, 0x400000u);
    EXPECT_EQ(heap.committed, 0x400000u);
    big[0x280000 - 1] = 1;
    EXPECT_EQ(behind[23], 0x5A);
}

TEST_F(HeapTest, TakenRangeBehindRaisesReserveMore) {
    heapInit(&heap, 0x100000);
    heapAlloc(&heap, 0x100000);
    unsigned char* behind = heap.base + heap.reserved;
    // Something else owns the range right after the heap now.
    ASSERT_EQ(osReserveAt(behind, 0x100000), behind);
    auto* first = static_cast<unsigned char*>(heap.base);
    first[0] = 0x11;
    EXPECT_EQ(raisedCode([&] { heapAlloc(&heap, 8); }), ERR_HEAP_RESERVE_MORE);
    EXPECT_EQ(heap.reserved, 0x100000u);
    EXPECT_EQ(first[0], 0x11);                       // nothing was clobbered
    ASSERT_NE(osCommit(behind, 0x100000), nullptr);  // and the other mapping is intact
    behind[0] = 1;
    osReleaseRange(behind, 0x100000);
}

TEST_F(HeapTest, BlocksOfAnEarlierRegionSurviveASecondInit) {
    char16_t* early = heapDupWide(&heap, u"pattern*.jpg");
    unsigned char* firstBase = heap.base;
    uint32_t firstReserved = heap.reserved;
    heapInit(&heap, kRunHeapSize);
    EXPECT_NE(heap.base, firstBase);
    EXPECT_EQ(heap.used, 0u);
    heapDupWide(&heap, u"overwrite?");
    EXPECT_EQ(std::u16string(early), u"pattern*.jpg");
    osReleaseRange(firstBase, firstReserved);
}

TEST_F(HeapTest, DupWideCopiesWithTerminator) {
    EXPECT_EQ(heapDupWide(&heap, nullptr), nullptr);
    char16_t* empty = heapDupWide(&heap, u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
    EXPECT_EQ(heap.used, 8u);
    const char16_t source[] = u"a\u00e9\U0001F600";
    char16_t* copy = heapDupWide(&heap, source);
    EXPECT_NE(copy, source);
    EXPECT_EQ(std::memcmp(copy, source, sizeof source), 0);
    EXPECT_EQ(heap.used, 8u + 16u);
}

TEST_F(HeapTest, ReleaseClearsTheRecord) {
    heapAlloc(&heap, 10);
    heapRelease(&heap);
    EXPECT_EQ(heap.base, nullptr);
    EXPECT_EQ(heap.reserved, 0u);
    EXPECT_EQ(heap.committed, 0u);
    EXPECT_EQ(heap.used, 0u);
    heapRelease(&heap);  // a cleared record releases nothing
}

TEST_F(HeapTest, ResizeAndFreeWorkInPlaceOnlyForTheLatestBlock) {
    auto* a = static_cast<char*>(heapAlloc(&heap, 8));
    auto* b = static_cast<char*>(heapAlloc(&heap, 8));
    std::memcpy(a, "abcdefg", 8);
    EXPECT_EQ(heapResize(&heap, b, 8, 40), b);  // latest: grows in place
    EXPECT_EQ(heap.used, 48u);
    EXPECT_EQ(heapResize(&heap, b, 40, 12), b);  // and shrinks in place
    EXPECT_EQ(heap.used, 24u);
    auto* moved = static_cast<char*>(heapResize(&heap, a, 8, 32));  // not latest: moves
    EXPECT_NE(moved, a);
    EXPECT_STREQ(moved, "abcdefg");
    EXPECT_EQ(heap.used, 56u);
    EXPECT_EQ(heapResize(&heap, a, 8, 4), a);  // shrinking another block keeps it
    heapFree(&heap, a, 8);                     // not latest: nothing given back
    EXPECT_EQ(heap.used, 56u);
    heapFree(&heap, moved, 32);
    EXPECT_EQ(heap.used, 24u);
    int outside = 0;
    EXPECT_EQ(raisedCode([&] { heapFree(&heap, &outside, 4); }), ERR_HEAP_FREE_OUTSIDE);
    EXPECT_EQ(raisedCode([&] { heapResize(&heap, heap.base + heap.used, 4, 8); }),
              ERR_HEAP_REALLOC_OUTSIDE);
}

TEST_F(HeapTest, NamedChunksGiveBackAndCheckTheirNames) {
    heapAlloc(&heap, 8);
    heapBeginChunk(&heap, "listing");
    heapAlloc(&heap, 100);
    heapBeginChunk(&heap, "inner");
    heapAlloc(&heap, 100);
    EXPECT_EQ(raisedCode([&] { heapEndChunk(&heap, "listing"); }), ERR_HEAP_END_MISMATCH);
    EXPECT_STREQ(raisedText(), "listing");
    heapEndChunk(&heap, "inner");
    heapEndChunk(&heap, "listing");
    EXPECT_EQ(heap.used, 8u);
    EXPECT_EQ(heap.chunkCount, 0);
    EXPECT_EQ(raisedCode([&] { heapEndChunk(&heap, "orphan"); }), ERR_HEAP_END_NO_BEGIN);
    EXPECT_STREQ(raisedText(), "orphan");
    for (int i = 0; i < kHeapMaxChunks; ++i) heapBeginChunk(&heap, "level");
    EXPECT_EQ(raisedCode([&] { heapBeginChunk(&heap, "seventeenth"); }), ERR_HEAP_BEGIN_LIMIT);
    EXPECT_STREQ(raisedText(), "seventeenth");
    EXPECT_EQ(heap.chunkCount, kHeapMaxChunks);
}

TEST_F(HeapTest, CountedCopiesStopAtTheCount) {
    EXPECT_STREQ(heapDupNarrow(&heap, "name"), "name");
    EXPECT_STREQ(heapDupNarrowCounted(&heap, "abcdef", 3), "abc");
    EXPECT_EQ(std::u16string(heapDupWideCounted(&heap, u"wxyz", 2)), u"wx");
    EXPECT_EQ(heapDupNarrow(&heap, nullptr), nullptr);
}

}  // namespace
