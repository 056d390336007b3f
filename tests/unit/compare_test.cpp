// Tests of the tree comparison: the time rule, the status setter, the merge and
// classification of in-memory child lists, and the host-side descent and marker
// rules against real directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "run/compare.h"
#include "run/context.h"
#include "run/lookahead.h"
#include "support/encodings.h"
#include "support/heap.h"
#include "tree/patterns.h"

namespace {

constexpr uint64_t kSecond = kFileTimePerSecond;
// 2020-01-01 00:00:00 UTC, an even number of Unix seconds.
constexpr uint64_t kBase = kUnixEpochFileTime + 1577836800ull * kSecond;

constexpr int64_t kSigned = static_cast<int64_t>(kSecond);

struct TimeRow {
    uint32_t rounding;
    bool oneHourSame;
    int64_t hostDelta;  // host time minus device time, 100 ns units
    int expected;
};

const TimeRow timeRows[] = {
    {1, false, 0, 0},
    {1, false, 3600 * kSigned, 1},
    {1, false, -3600 * kSigned, -1},
    {1, true, 3600 * kSigned, 0},
    {1, true, -3600 * kSigned, 0},
    {1, true, 3601 * kSigned, 1},
    {1, true, -3601 * kSigned, -1},
    {1, true, 3599 * kSigned, 1},
    {4, false, 3600 * kSigned, 1},
    {4, true, 3600 * kSigned, 0},
    {4, true, -3600 * kSigned, 0},
    {4, true, 3601 * kSigned, 1},
    {4, true, -3601 * kSigned, 0},  // the odd second rounds up: 3600 s apart
    {4, true, -3602 * kSigned, -1},
    {1, false, 4 * kSigned / 10, 0},     // 0.4 s rounds to the same second
    {1, false, kSigned / 2, 1},          // half a second rounds up
    {4, false, 9 * kSigned / 10, 0},     // 0.9 s: both land on the same even second
    {4, false, kSigned, 1},              // 1.0 s: the next even second
    {4, false, -kSigned, 0},             // 1.0 s earlier rounds up to the same second
    {4, false, -11 * kSigned / 10, -1},  // 1.1 s earlier: the even second below
    {4, true, 35995 * kSigned / 10, 0},  // 3599.5 s rounds to 3600 s apart
    {1, true, 35994 * kSigned / 10, 1},  // 3599.4 s rounds to 3599 s apart
};

TEST(CompareTimes, RoundingAndTheOneHourRule) {
    for (const TimeRow& row : timeRows) {
        uint64_t host = kBase + static_cast<uint64_t>(row.hostDelta);
        EXPECT_EQ(compareTimes(host, kBase, row.rounding, row.oneHourSame), row.expected)
            << "mode " << row.rounding << " hour " << row.oneHourSame << " delta " << row.hostDelta;
    }
}

TEST(CompareTimes, OutsideTheUnixRange) {
    // Both before 1970: both reduce to 0.
    EXPECT_EQ(compareTimes(0, kUnixEpochFileTime - kSecond, 4, false), 0);
    EXPECT_EQ(compareTimes(kBase, 0, 4, false), 1);
    // After 2106 the seconds would wrap to small values; the file must stay newer.
    uint64_t year2107 = kUnixEpochFileTime + 0x100000000ull * kSecond + 86400 * 365 * kSecond;
    EXPECT_EQ(compareTimes(year2107, kBase, 4, false), 1);
    EXPECT_EQ(compareTimes(kBase, year2107, 1, false), -1);
    // Two times after 2106 keep their order.
    EXPECT_EQ(compareTimes(~0ull, year2107, 1, false), 1);
    EXPECT_EQ(compareTimes(year2107, year2107 + kSecond / 2, 0, false), 0);
    // Values 2^32 - 3600 apart are not one hour apart.
    uint64_t early = kUnixEpochFileTime + 1000 * kSecond;
    uint64_t late = kUnixEpochFileTime + (1000 + 0x100000000ull - 3600) * kSecond;
    EXPECT_EQ(compareTimes(early, late, 1, true), -1);
}

class CompareTest : public ::testing::Test {
protected:
    void SetUp() override {
        context = std::make_unique<SyncContext>();
        heapInit(&context->heap, kHeapStep);
        context->timeRounding = 4;
        context->hostTop.mode = kModeDirectory;
        context->androidTop.mode = kModeDirectory;
    }
    void TearDown() override { heapRelease(&context->heap); }

    FileNode* add(FileNode* directory, const char16_t* name, uint32_t mode, uint64_t mtime = kBase,
                  uint32_t size = 0) {
        auto* node = static_cast<FileNode*>(heapAlloc(&context->heap, sizeof(FileNode)));
        *node = FileNode{};
        node->name = heapDupWide(&context->heap, name);
        node->mode = mode;
        node->mtime = mtime;
        node->size = size;
        insertChildrenSorted(directory, &node, 1);
        return node;
    }

    uint32_t count(int status) const { return context->statusCounts[status]; }
    uint32_t total() const {
        uint32_t sum = 0;
        for (uint32_t value : context->statusCounts) sum += value;
        return sum;
    }

    std::unique_ptr<SyncContext> context;
    FileNode* host() { return &context->hostTop; }
    FileNode* device() { return &context->androidTop; }
};

constexpr uint32_t kDir = kModeDirectory;
constexpr uint32_t kFile = kModeFile;
constexpr uint32_t kDeviceFile = 0x81A4;  // regular file with permission bits
constexpr uint32_t kDeviceDir = 0x41ED;

TEST_F(CompareTest, SetStatusCountsOncePerCallAndLinksPairs) {
    FileNode* h = add(host(), u"x", kFile);
    FileNode* d = add(device(), u"x", kFile);
    setStatus(context.get(), nullptr, nullptr, FilesMatch);
    setStatus(context.get(), h, d, Unknown);
    setStatus(context.get(), h, d, kStatusCount);
    setStatus(context.get(), h, d, -1);
    EXPECT_EQ(total(), 0u);
    EXPECT_EQ(h->status, Unknown);

    setStatus(context.get(), h, d, FilesMatch);
    EXPECT_EQ(count(FilesMatch), 1u);
    EXPECT_EQ(h->status, FilesMatch);
    EXPECT_EQ(d->status, FilesMatch);
    EXPECT_EQ(h->partner, d);
    EXPECT_EQ(d->partner, h);

    // A later code wins in the node; both calls stay counted.
    setStatus(context.get(), h, nullptr, HostDirIgnored);
    EXPECT_EQ(h->status, HostDirIgnored);
    EXPECT_EQ(d->status, FilesMatch);
    EXPECT_EQ(total(), 2u);
}

TEST_F(CompareTest, MergeClassifiesEveryKindOfChild) {
    context->ignoreList = parsePatternList(&context->heap, "*.tmp");
    FileNode* hA = add(host(), u"a.txt", kFile, kBase + 10 * kSecond, 5);
    FileNode* dA = add(device(), u"a.txt", kDeviceFile, kBase, 7);
    FileNode* hB = add(host(), u"b", kDir);
    FileNode* dB = add(device(), u"b", kDeviceDir);
    FileNode* hC = add(host(), u"c", kDir);  // host dir, device file
    FileNode* dC = add(device(), u"c", kDeviceFile);
    FileNode* hD = add(host(), u"d", kFile);  // host file, device dir
    FileNode* dD = add(device(), u"d", kDeviceDir);
    FileNode* hE = add(host(), u"e.tmp", kFile);
    FileNode* dE = add(device(), u"e.tmp", kDeviceFile);
    FileNode* dF = add(device(), u"f", kDeviceDir);  // device only
    FileNode* hG = add(host(), u"g", kFile);         // host only
    FileNode* dH = add(device(), u"h.tmp", kDeviceFile);
    FileNode* hI = add(host(), u"i", kFile, kBase, 1);
    FileNode* dI = add(device(), u"i", kDeviceFile, kBase, 2);
    FileNode* hJ = add(host(), u"j", kFile, kBase);
    FileNode* dJ = add(device(), u"j", kDeviceFile, kBase + 3 * kSecond);
    FileNode* hK = add(host(), u"k", kDir);  // host-only directory

    classifyChildren(context.get(), host(), device());

    struct Expect {
        FileNode* node;
        int status;
        int order;
        FileNode* partner;
    };
    const Expect rows[] = {
        {hA, HostFileNewer, 0, dA},
        {dA, HostFileNewer, 0, hA},
        {hB, DirsMatch, 1, dB},
        {dB, DirsMatch, 1, hB},
        {hC, HostDirConflict, 2, dC},
        {dC, HostDirConflict, 2, hC},
        {hD, AndroidDirConflict, 3, dD},
        {dD, AndroidDirConflict, 3, hD},
        {hE, HostFileIgnored, 4, nullptr},
        {dE, AndroidFileIgnored, 4, nullptr},
        {dF, AndroidDirOnly, 5, nullptr},
        {hG, HostFileOnly, 6, nullptr},
        {dH, AndroidFileIgnored, 7, nullptr},
        {hI, FilesMatch, 8, dI},
        {dI, FilesMatch, 8, hI},  // equal times, sizes differ
        {hJ, AndroidFileNewer, 9, dJ},
        {dJ, AndroidFileNewer, 9, hJ},
        {hK, HostDirOnly, 10, nullptr},
    };
    for (const Expect& row : rows) {
        std::u16string name(row.node->name);
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_EQ(row.node->status, row.status);
        EXPECT_EQ(row.node->order, row.order);
        EXPECT_EQ(row.node->partner, row.partner);
    }
    // A pair counts once; the ignored pair counts once per side.
    EXPECT_EQ(count(HostFileNewer), 1u);
    EXPECT_EQ(count(DirsMatch), 1u);
    EXPECT_EQ(count(HostDirConflict), 1u);
    EXPECT_EQ(count(AndroidDirConflict), 1u);
    EXPECT_EQ(count(HostFileIgnored), 1u);
    EXPECT_EQ(count(AndroidFileIgnored), 2u);
    EXPECT_EQ(total(), 12u);
}

// Without /s nothing is entered; with /s a one-sided directory is entered only when
// the other side may get subdirectories, and the bit of the wrong side does not
// count. (Entering would read the directory; none of these may.)
TEST_F(CompareTest, OneSidedDirectoriesNeedTheOtherSidesBit) {
    FileNode* hostOnly = add(host(), u"h", kDir);
    FileNode* deviceOnly = add(device(), u"d", kDeviceDir);
    context->recurse = 1;
    context->copyFlags = kCopyDirsHost | kCopyCreateAndroid | kCopyUpdateAndroid;
    add(hostOnly, u"inside", kFile);  // already there; must stay unclassified
    classifyChildren(context.get(), host(), nullptr);
    context->copyFlags = kCopyDirsAndroid | kCopyCreateHost | kCopyUpdateHost;
    classifyChildren(context.get(), nullptr, device());
    EXPECT_EQ(hostOnly->status, HostDirOnly);
    EXPECT_EQ(deviceOnly->status, AndroidDirOnly);
    EXPECT_EQ(hostOnly->firstChild->status, Unknown);
    EXPECT_EQ(total(), 2u);
}

// Names that agree in their first 255 UTF-8 bytes form a pair; when only one of them
// is ignored, both are ignored and stay unlinked.
TEST_F(CompareTest, IgnoredFilePairStaysUnlinked) {
    context->ignoreList = parsePatternList(&context->heap, "*.tmp");
    std::u16string stem(255, u'n');
    FileNode* h = add(host(), (stem + u".tmp").c_str(), kFile);
    FileNode* d = add(device(), (stem + u".txt").c_str(), kDeviceFile);
    classifyChildren(context.get(), host(), device());
    EXPECT_EQ(h->status, HostFileIgnored);
    EXPECT_EQ(d->status, AndroidFileIgnored);
    EXPECT_EQ(h->order, d->order);
    EXPECT_EQ(h->partner, nullptr);
    EXPECT_EQ(d->partner, nullptr);
    EXPECT_EQ(count(HostFileIgnored), 1u);
    EXPECT_EQ(count(AndroidFileIgnored), 1u);
}

// The host side of the walk against real directories: a one-sided descent reads
// nothing from the device, and a marker at the root keeps the device from being asked.
class HostTreeTest : public CompareTest {
protected:
    void SetUp() override {
        CompareTest::SetUp();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root =
            std::filesystem::path(::testing::TempDir()) / (std::string("compare_") + info->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
        std::u16string text = std::filesystem::absolute(root).u16string();
        ASSERT_LT(text.size(), kRootChars);
        std::copy(text.begin(), text.end(), context->hostRoot);
    }
    void TearDown() override {
        std::filesystem::remove_all(root);
        CompareTest::TearDown();
    }
    void file(const char* relative) {
        std::filesystem::path path = root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "x";
    }
    // A walk of its own, as the run's comparison makes one, over a window of
    // `window` directories (0: the default).
    void walk(FileNode* host, FileNode* device, uint32_t window = 0) {
        context->requestWindow = window;
        DeviceLookahead ahead;
        beginLookahead(&ahead, context.get());
        compareTrees(context.get(), host, device);
        endLookahead(&ahead);
    }
    FileNode* child(FileNode* directory, const char16_t* name) {
        for (FileNode* node = directory->firstChild; node != nullptr; node = node->nextSibling)
            if (std::u16string(node->name) == name) return node;
        return nullptr;
    }

    std::filesystem::path root;
};

TEST_F(HostTreeTest, OneSidedDescentWithTheCreateSubdirectoriesBit) {
    file("a.txt");
    file("sub/b.tmp");
    file("sub/deep/c.txt");
    file("marked/.notandrix");
    file("marked/z.txt");
    context->ignoreList = parsePatternList(&context->heap, "*.tmp");
    context->recurse = 1;
    context->copyFlags = kCopyDirsAndroid;
    walk(host(), nullptr);

    FileNode* sub = child(host(), u"sub");
    FileNode* marked = child(host(), u"marked");
    ASSERT_NE(sub, nullptr);
    ASSERT_NE(marked, nullptr);
    EXPECT_EQ(child(host(), u"a.txt")->status, HostFileOnly);
    EXPECT_EQ(sub->status, HostDirOnly);
    ASSERT_NE(child(sub, u"b.tmp"), nullptr);
    EXPECT_EQ(child(sub, u"b.tmp")->status, HostFileIgnored);
    FileNode* deep = child(sub, u"deep");
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->status, HostDirOnly);
    ASSERT_NE(child(deep, u"c.txt"), nullptr);
    EXPECT_EQ(child(deep, u"c.txt")->status, HostFileOnly);
    // The marked directory is classified twice and never read.
    EXPECT_EQ(marked->status, HostDirIgnored);
    EXPECT_EQ(marked->firstChild, nullptr);
    EXPECT_EQ(count(HostDirOnly), 3u);
    EXPECT_EQ(count(HostDirIgnored), 1u);
    EXPECT_EQ(count(HostFileOnly), 2u);
    EXPECT_EQ(count(HostFileIgnored), 1u);
    EXPECT_EQ(host()->status, Unknown);
}

TEST_F(HostTreeTest, WithoutTheBitOrWithoutRecursionNothingIsEntered) {
    file("sub/b.txt");
    for (int variant = 0; variant < 2; ++variant) {
        host()->firstChild = nullptr;
        context->recurse = variant == 0 ? 1 : 0;
        context->copyFlags = variant == 0 ? kCopyDirsHost : kCopyDirsAndroid;
        walk(host(), nullptr, variant == 0 ? 1 : 0);
        FileNode* sub = child(host(), u"sub");
        ASSERT_NE(sub, nullptr);
        EXPECT_EQ(sub->status, HostDirOnly);
        EXPECT_EQ(sub->firstChild, nullptr);
    }
}

TEST_F(HostTreeTest, MarkerAtTheRootStopsEverything) {
    file(".notandrix");
    file("a.txt");
    context->recurse = 1;
    // The device top is given but must not be asked: no connection exists.
    for (uint32_t window : {1u, 0u}) {
        std::fill(std::begin(context->statusCounts), std::end(context->statusCounts), 0u);
        walk(host(), device(), window);
        EXPECT_EQ(host()->status, HostDirIgnored);
        EXPECT_EQ(device()->status, AndroidDirIgnored);
        EXPECT_EQ(host()->firstChild, nullptr);
        EXPECT_EQ(device()->firstChild, nullptr);
        EXPECT_EQ(count(HostDirIgnored), 1u);
        EXPECT_EQ(count(AndroidDirIgnored), 1u);
        EXPECT_EQ(total(), 2u);
    }
}

TEST_F(HostTreeTest, MarkerMayBeADirectory) {
    std::filesystem::create_directories(root / ".notandrix");
    EXPECT_TRUE(hostHasMarker(context.get(), host()));
    EXPECT_FALSE(hostHasMarker(context.get(), nullptr));
    std::filesystem::remove_all(root / ".notandrix");
    EXPECT_FALSE(hostHasMarker(context.get(), host()));
}

}  // namespace
