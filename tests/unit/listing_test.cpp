// Tests of the listing: number and difference text, listing lines column by column,
// copy lines, the one-sided blocks and the merged walk, and the summary. Output is
// captured by pointing the standard output descriptor at a file.
#include <gtest/gtest.h>

#include <unistd.h>  // dup and dup2 of the C runtime (test-only capture)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "run/compare.h"
#include "run/context.h"
#include "run/listing.h"
#include "support/encodings.h"
#include "support/heap.h"

namespace {

// ---------------------------------------------------------------------------
// Number and difference text
// ---------------------------------------------------------------------------

struct NumberRow {
    uint64_t value;
    const char* text;
};

TEST(ListingText, Thousands) {
    const NumberRow rows[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {10000, "10,000"},
        {100000, "100,000"},
        {1234567, "1,234,567"},
        {4294967295u, "4,294,967,295"},
    };
    for (const NumberRow& row : rows) {
        char out[kNumberChars];
        formatThousands(static_cast<uint32_t>(row.value), out);
        EXPECT_STREQ(out, row.text);
    }
    const NumberRow wide[] = {
        {4294967296ull, "4,294,967,296"},
        {12345678901ull, "12,345,678,901"},
        {~0ull, "18,446,744,073,709,551,615"},
    };
    for (const NumberRow& row : wide) {
        char out[kWideNumberChars];
        formatThousands64(row.value, out);
        EXPECT_STREQ(out, row.text);
    }
}

struct SizeDiffRow {
    int64_t difference;
    const char* text;
};

TEST(ListingText, SizeDifferences) {
    const SizeDiffRow rows[] = {
        {0, "+0B"},
        {999, "+999B"},
        {-999, "-999B"},
        {1000, "+1kB"},
        {1535, "+1kB"},
        {1536, "+2kB"},
        {34567, "+34kB"},
        {-1023487, "-999kB"},
        {-1023488, "-1MB"},
        {1048051711, "+999MB"},  // just below 999.5 MiB
        {1048051712, "+1GB"},
        {-2147483648ll, "-2GB"},
        {5368709120ll, "+5GB"},  // beyond 32 bits: the true figure
        {-4294967296ll, "-4GB"},
        {INT64_MIN, "-8,589,934,592GB"},
        {INT64_MAX, "+8,589,934,592GB"},
    };
    for (const SizeDiffRow& row : rows) {
        char out[kSizeDiffChars];
        formatSizeDiff(row.difference, out);
        EXPECT_STREQ(out, row.text) << row.difference;
    }
}

struct TimeDiffRow {
    uint64_t difference;
    const char* text;
};

constexpr uint64_t kSecond = kFileTimePerSecond;
constexpr uint64_t kMinute = 60 * kSecond;
constexpr uint64_t kHour = 60 * kMinute;
constexpr uint64_t kDay = 24 * kHour;

TEST(ListingText, TimeDifferences) {
    const TimeDiffRow rows[] = {
        {0, "0s"},
        {3 * kSecond / 10, "0s"},
        {kSecond / 2, "1s"},
        {594 * kSecond / 10, "59s"},
        {595 * kSecond / 10, "1m"},
        {90 * kSecond, "2m"},
        {3 * kHour + 5 * kMinute, "3h"},
        {47 * kHour / 2, "1d"},
        {10 * kDay, "1w"},
        {13 * kDay / 2, "1w"},
        {360 * kDay, "51w"},
        {400 * kDay, "1y"},
        {~0ull, "58,454y"},
    };
    for (const TimeDiffRow& row : rows) {
        char out[kTimeDiffChars];
        formatTimeDiff(row.difference, out);
        EXPECT_STREQ(out, row.text) << row.difference;
    }
}

TEST(ListingText, CopyElapsedNeverOverflows) {
    EXPECT_EQ(copyElapsed(0, 1000000000), 0u);
    EXPECT_EQ(copyElapsed(1500000000, 1000000000), 15000000u);
    EXPECT_EQ(copyElapsed(7, 0), 0u);
    // 2^62 ticks of 1 ns: the plain product would leave 64 bits.
    EXPECT_EQ(copyElapsed(1ull << 62, 1000000000), 46116860184273879ull);
    // A counter faster than 2^64 / 10^7 ticks per second.
    uint64_t fast = (1ull << 62) + 1;
    EXPECT_EQ(copyElapsed(fast - 1, fast), kSecond - 1);
    EXPECT_EQ(copyElapsed(3 * fast + fast / 2, fast), 3 * kSecond + kSecond / 2 - 1);
    // A result that does not fit saturates.
    EXPECT_EQ(copyElapsed(~0ull, 1), ~0ull);
}

// ---------------------------------------------------------------------------
// Output capture
// ---------------------------------------------------------------------------

// Runs `action` with the standard output descriptor pointed at a file and returns
// what was written. Through the C runtime's dup2 this also redirects the Windows
// standard output handle (the runtime updates it for descriptors 0 to 2).
std::string capture(const std::function<void()>& action) {
    // A file of this test's own: ctest runs other tests in parallel processes.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path path = std::filesystem::path(::testing::TempDir()) /
                                 ("listing_capture_" + std::string(info ? info->name() : "probe") +
                                  "_" + std::to_string(stamp) + ".txt");
    fflush(stdout);
    FILE* file = fopen(path.string().c_str(), "w+b");
    if (file == nullptr) return "<no capture file>";
    int saved = dup(1);
    dup2(fileno(file), 1);
    action();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    fclose(file);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    std::filesystem::remove(path);
    return text.str();
}

bool captureWorks() {
    static const bool works = capture([] { osWriteStdout("probe", 5); }) == "probe";
    return works;
}

#define REQUIRE_CAPTURE() \
    if (!captureWorks()) GTEST_SKIP() << "standard output cannot be redirected here"

std::string lines(std::initializer_list<std::string> parts) {
    std::string text;
    for (const std::string& part : parts) text += part + osLineEnd();
    return text;
}

// ---------------------------------------------------------------------------
// Trees
// ---------------------------------------------------------------------------

// 2020-07-06 14:45:59 UTC.
constexpr uint64_t kWhen = kUnixEpochFileTime + 1594046759ull * kSecond;
constexpr uint32_t kDir = kModeDirectory;
constexpr uint32_t kFile = kModeFile;

class ListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        context = std::make_unique<SyncContext>();
        heapInit(&context->heap, kHeapStep);
        context->timeRounding = 4;
        context->hostTop.mode = kDir;
        context->androidTop.mode = kDir;
    }
    void TearDown() override { heapRelease(&context->heap); }

    FileNode* node(FileNode* directory, const std::u16string& name, uint32_t mode,
                   uint64_t size = 0, uint64_t mtime = kWhen) {
        auto* result = static_cast<FileNode*>(heapAlloc(&context->heap, sizeof(FileNode)));
        *result = FileNode{};
        result->name = heapDupWide(&context->heap, name.c_str());
        result->mode = mode;
        result->size = size;
        result->mtime = mtime;
        insertChild(directory, result);
        return result;
    }
    FileNode* hostNode(FileNode* directory, const std::u16string& name, uint32_t mode,
                       uint64_t size = 0, uint64_t mtime = kWhen) {
        return node(directory, name, mode, size, mtime);
    }
    std::string line(int status, const FileNode* subject, const FileNode* partner = nullptr,
                     bool endLine = true) {
        return capture([&] { writeListLine(context.get(), status, subject, partner, endLine); });
    }

    std::unique_ptr<SyncContext> context;
    FileNode* host() { return &context->hostTop; }
    FileNode* device() { return &context->androidTop; }
};

// ---------------------------------------------------------------------------
// Listing lines
// ---------------------------------------------------------------------------

TEST_F(ListingTest, NewerFileWithPartner) {
    REQUIRE_CAPTURE();
    FileNode* docs = hostNode(host(), u"docs", kDir);
    FileNode* file = hostNode(docs, u"a.txt", kFile, 1234567);
    FileNode* partner = node(device(), u"a.txt", kFile, 1200000, kWhen - 3 * kHour - 5 * kMinute);
    EXPECT_EQ(line(HostFileNewer, file, partner),
              lines({"H>    1,234,567  2020-07-06 14:45  docs/a.txt  +34kB  +3h"}));
    EXPECT_EQ(context->printedAny, 1u);
}

TEST_F(ListingTest, ColumnsOfSizesDirectoriesAndCodes) {
    REQUIRE_CAPTURE();
    EXPECT_EQ(line(AndroidFileOnly, node(device(), u"big", kFile, 4294967295u, 0)),
              lines({"A 4,294,967,295  1601-01-01 00:00  big"}));
    EXPECT_EQ(line(HostFileOnly, hostNode(host(), u"nine", kFile, 999999999)),
              lines({"H   999,999,999  2020-07-06 14:45  nine"}));
    EXPECT_EQ(line(HostDirOnly, hostNode(host(), u"dir", kDir, 4096)),
              lines({"H                2020-07-06 14:45  dir"}));
    EXPECT_EQ(line(FilesMatch, hostNode(host(), u"same", kFile, 0)),
              lines({"              0  2020-07-06 14:45  same"}));
    EXPECT_EQ(line(DirsMatch, node(device(), u"d", 0x41ED)),
              lines({"                 2020-07-06 14:45  d"}));
}

TEST_F(ListingTest, SizesOf4GiBAndMore) {
    REQUIRE_CAPTURE();
    EXPECT_EQ(line(HostFileOnly, hostNode(host(), u"five", kFile, 5368709121ull)),
              lines({"H 5,368,709,121  2020-07-06 14:45  five"}));
    // 14 characters: the rest of the line moves right instead of covering the code.
    EXPECT_EQ(line(HostFileOnly, hostNode(host(), u"huge", kFile, 12345678901ull)),
              lines({"H 12,345,678,901  2020-07-06 14:45  huge"}));
    FileNode* h = hostNode(host(), u"grown", kFile, 5ull << 30, kWhen + kSecond / 4);
    FileNode* d = node(device(), u"grown", kFile, 1ull << 30, kWhen);
    EXPECT_EQ(line(HostFileNewer, h, d),
              lines({"H>5,368,709,120  2020-07-06 14:45  grown  +4GB  +0s"}));
}

TEST_F(ListingTest, DifferencesOnlyWhenNotZero) {
    REQUIRE_CAPTURE();
    FileNode* h = hostNode(host(), u"x", kFile, 100, kWhen + 2 * kDay);
    FileNode* d = node(device(), u"x", kFile, 100, kWhen);
    EXPECT_EQ(line(HostFileNewer, h, d), lines({"H>          100  2020-07-08 14:45  x  +2d"}));
    FileNode* h2 = hostNode(host(), u"y", kFile, 5, kWhen);
    FileNode* d2 = node(device(), u"y", kFile, 1023493, kWhen);
    EXPECT_EQ(line(AndroidFileNewer, d2, h2),
              lines({"A>    1,023,493  2020-07-06 14:45  y  +1MB"}));
    EXPECT_EQ(line(AndroidFileNewer, h2, d2),
              lines({"A>            5  2020-07-06 14:45  y  -1MB"}));
}

TEST_F(ListingTest, LeadingBlankLineAndOpenLine) {
    REQUIRE_CAPTURE();
    FileNode* file = hostNode(host(), u"f", kFile, 1);
    context->needBlankLine = 1;
    EXPECT_EQ(line(HostFileOnly, file),
              std::string(osLineEnd()) + lines({"H             1  2020-07-06 14:45  f"}));
    EXPECT_EQ(context->needBlankLine, 0u);
    EXPECT_EQ(line(HostFileOnly, file, nullptr, false), "H             1  2020-07-06 14:45  f");
}

// A path long enough to carry the line past 1024 characters is shown whole.
TEST_F(ListingTest, LongPathIsNotCut) {
    REQUIRE_CAPTURE();
    FileNode* directory = host();
    std::string path;
    for (char letter = 'a'; letter < 'f'; ++letter) {
        directory = hostNode(directory, std::u16string(200, letter), kDir);
        path += std::string(200, letter) + "/";
    }
    FileNode* file = hostNode(directory, u"name.txt", kFile, 2048, kWhen + kHour);
    FileNode* partner = node(device(), u"name.txt", kFile, 1, kWhen);
    path += "name.txt";
    std::string text = line(HostFileNewer, file, partner);
    EXPECT_GT(text.size(), 1024u);
    EXPECT_EQ(text, lines({"H>        2,048  2020-07-06 15:45  " + path + "  +2kB  +1h"}));
}

// ---------------------------------------------------------------------------
// Copy lines
// ---------------------------------------------------------------------------

TEST_F(ListingTest, CopyLineIsListingLineDashAndDuration) {
    REQUIRE_CAPTURE();
    FileNode* h = hostNode(host(), u"a.txt", kFile, 2000, kWhen + 3 * kHour);
    FileNode* d = node(device(), u"a.txt", kFile, 1000, kWhen);
    context->listMask = 1u << UpdatedOnAndroid;
    // A counter frequency this high makes the elapsed time round down to zero.
    context->perfFrequency = ~0ull;
    std::string text = capture([&] {
        beginCopyLine(context.get(), UpdatedOnAndroid, h, d);
        endCopyLine(context.get(), UpdatedOnAndroid);
    });
    EXPECT_EQ(text, lines({"~>        2,000  2020-07-06 17:45  a.txt  +1kB  +3h - 0.000"}));
    EXPECT_EQ(context->statusCounts[UpdatedOnAndroid], 1u);
    EXPECT_EQ(context->perfFrequency, ~0ull);
}

TEST_F(ListingTest, UnlistedCopyIsCountedOnly) {
    REQUIRE_CAPTURE();
    FileNode* h = hostNode(host(), u"a.txt", kFile, 1);
    context->listMask = 1u << UpdatedOnAndroid;
    std::string text = capture([&] {
        beginCopyLine(context.get(), CreatedOnAndroid, h, nullptr);
        endCopyLine(context.get(), CreatedOnAndroid);
        beginCopyLine(context.get(), 0, h, nullptr);
        endCopyLine(context.get(), 0);
        beginCopyLine(context.get(), kStatusCount, h, nullptr);
        endCopyLine(context.get(), kStatusCount);
    });
    EXPECT_EQ(text, "");
    EXPECT_EQ(context->statusCounts[CreatedOnAndroid], 1u);
    EXPECT_EQ(context->statusCounts[Unknown], 0u);
    EXPECT_EQ(context->perfFrequency, 0u);
    EXPECT_EQ(context->printedAny, 0u);
}

// ---------------------------------------------------------------------------
// Listing pass
// ---------------------------------------------------------------------------

constexpr uint32_t bit(int status) {
    return 1u << status;
}
constexpr uint32_t kOneSidedBits =
    bit(HostDirOnly) | bit(HostFileOnly) | bit(AndroidDirOnly) | bit(AndroidFileOnly);

class ListResultsTest : public ListingTest {
protected:
    // host: a.txt, both.txt (newer), m/ (one-sided, holds the marker), sub/ with x
    // device: both.txt, z
    void SetUp() override {
        ListingTest::SetUp();
        hostNode(host(), u"a.txt", kFile, 10);
        hostNode(host(), u"both.txt", kFile, 20, kWhen + kHour);
        node(device(), u"both.txt", kFile, 20);
        FileNode* marked = hostNode(host(), u"m", kDir);
        FileNode* sub = hostNode(host(), u"sub", kDir);
        hostNode(sub, u"x", kFile, 30);
        node(device(), u"z", kFile, 40);
        classifyChildren(context.get(), host(), device());
        classifyChildren(context.get(), sub, nullptr);
        setStatus(context.get(), marked, nullptr, HostDirIgnored);
    }
    std::string list() {
        return capture([&] { listResults(context.get()); });
    }
};

TEST_F(ListResultsTest, BlocksThenMergedWalk) {
    REQUIRE_CAPTURE();
    context->listMask = kListOneSidedBlocks | kOneSidedBits | bit(HostFileNewer);
    EXPECT_EQ(list(), lines({"H            10  2020-07-06 14:45  a.txt",
                             "H                2020-07-06 14:45  sub",
                             "H            30  2020-07-06 14:45  sub/x", "",
                             "A            40  2020-07-06 14:45  z", "",
                             "H>           20  2020-07-06 15:45  both.txt  +1h"}));
    EXPECT_EQ(context->needBlankLine, 1u);
}

// Without the block bit the one-sided entries stay in the merged name order.
TEST_F(ListResultsTest, OneSidedEntriesInTheMergedWalk) {
    REQUIRE_CAPTURE();
    context->listMask = kOneSidedBits | bit(HostFileNewer);
    EXPECT_EQ(list(), lines({"H            10  2020-07-06 14:45  a.txt",
                             "H>           20  2020-07-06 15:45  both.txt  +1h",
                             "H                2020-07-06 14:45  sub",
                             "H            30  2020-07-06 14:45  sub/x",
                             "A            40  2020-07-06 14:45  z"}));
}

// The host block runs (its counters are above 0) but prints nothing, since every
// host-only node was reclassified later: the pending blank line then falls before
// the device block.
TEST_F(ListResultsTest, SilentBlockKeepsThePendingBlankLine) {
    REQUIRE_CAPTURE();
    context->listMask = kListOneSidedBlocks | kOneSidedBits;
    for (FileNode* n = host()->firstChild; n != nullptr; n = nextNode(n)) {
        if (n->status == HostFileOnly) n->status = HostFileIgnored;
        if (n->status == HostDirOnly) n->status = HostDirIgnored;
    }
    context->needBlankLine = 1;
    EXPECT_EQ(list(), std::string(osLineEnd()) + lines({"A            40  2020-07-06 14:45  z"}));
    EXPECT_EQ(context->needBlankLine, 1u);
}

TEST_F(ListResultsTest, BlockWithZeroCountersIsSkipped) {
    REQUIRE_CAPTURE();
    context->statusCounts[AndroidFileOnly] = 0;  // as if z were not there
    context->listMask = kListOneSidedBlocks | bit(AndroidFileOnly) | bit(AndroidDirOnly);
    // The device statuses stay in the working mask and are listed by the merged walk.
    EXPECT_EQ(list(), lines({"A            40  2020-07-06 14:45  z"}));
}

TEST_F(ListingTest, MergedWalkKeepsNameOrderAtEveryLevel) {
    REQUIRE_CAPTURE();
    // host:   a/{p,q}     c/{m,n}         f  g/  h
    // device:          b  c/{n,o,p}  d/{e}  g/  h (newer)
    // A walk that compared `order` numbers across directories would take a/q and b
    // for a pair (both 1) and lose b.
    FileNode* a = hostNode(host(), u"a", kDir);
    hostNode(a, u"p", kFile, 1);
    hostNode(a, u"q", kFile, 2);
    node(device(), u"b", kFile, 3);
    FileNode* cHost = hostNode(host(), u"c", kDir);
    FileNode* cDevice = node(device(), u"c", kDir);
    hostNode(cHost, u"m", kFile, 4);
    hostNode(cHost, u"n", kFile, 5);
    node(cDevice, u"n", kFile, 5);
    node(cDevice, u"o", kFile, 6);
    node(cDevice, u"p", kFile, 7);
    FileNode* d = node(device(), u"d", kDir);
    node(d, u"e", kFile, 8);
    hostNode(host(), u"f", kFile, 9);
    FileNode* gHost = hostNode(host(), u"g", kDir);
    FileNode* gDevice = node(device(), u"g", kDir);
    hostNode(host(), u"h", kFile, 10);
    node(device(), u"h", kFile, 11, kWhen + 2 * kHour);
    classifyChildren(context.get(), host(), device());
    classifyChildren(context.get(), a, nullptr);
    classifyChildren(context.get(), cHost, cDevice);
    classifyChildren(context.get(), nullptr, d);
    setStatus(context.get(), gHost, nullptr, HostDirIgnored);  // marker found below
    setStatus(context.get(), nullptr, gDevice, AndroidDirIgnored);
    context->listMask = 0x7FFE;  // statuses 1 to 14
    EXPECT_EQ(
        capture([&] { listResults(context.get()); }),
        lines({"H                2020-07-06 14:45  a", "H             1  2020-07-06 14:45  a/p",
               "H             2  2020-07-06 14:45  a/q", "A             3  2020-07-06 14:45  b",
               "                 2020-07-06 14:45  c", "H             4  2020-07-06 14:45  c/m",
               "              5  2020-07-06 14:45  c/n", "A             6  2020-07-06 14:45  c/o",
               "A             7  2020-07-06 14:45  c/p", "A                2020-07-06 14:45  d",
               "A             8  2020-07-06 14:45  d/e", "H             9  2020-07-06 14:45  f",
               "                 2020-07-06 14:45  g",
               "A>           11  2020-07-06 16:45  h  +1B  +2h"}));
}

// ---------------------------------------------------------------------------
// Summary
// ---------------------------------------------------------------------------

TEST_F(ListingTest, SummaryCountsEndInColumn32) {
    REQUIRE_CAPTURE();
    context->statusCounts[DirsMatch] = 5;
    context->statusCounts[FilesMatch] = 1234;
    context->statusCounts[AndroidFileOnly] = 3;
    context->statusCounts[AndroidFileIgnored] = 4294967295u;
    context->statusCounts[UpdatedOnAndroid] = 12345678;
    context->needBlankLine = 1;
    EXPECT_EQ(
        capture([&] { printSummary(context.get()); }),
        std::string(osLineEnd()) +
            lines({"    Dirs match                  5", "    Files match             1,234",
                   "A   Android file only           3",
                   // too wide for the room after the label: one blank stays
                   "    Android file ignored 4,294,967,295", "~>  Updated on android 12,345,678"}));
    EXPECT_EQ(context->needBlankLine, 0u);
    EXPECT_EQ(context->printedAny, 0u);
}

}  // namespace
