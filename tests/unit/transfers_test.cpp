// File transfers against a scripted peer (private network namespace only): the host
// failures that only the failure hooks can produce (a write or rename failing in the
// middle of a pull, a read failing during a push) and a path too long to copy.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "adb/connection.h"
#include "adb/syncqueries.h"
#include "adb_peer.h"
#include "raised_code.h"
#include "run/context.h"
#include "run/copypasses.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "support/heap.h"

namespace {

namespace fs = std::filesystem;

std::string le32(uint32_t value) {
    unsigned char bytes[4];
    writeLe32(bytes, value);
    return std::string(reinterpret_cast<char*>(bytes), 4);
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every test runs with a window of one file and with the default window.
class TransferNet : public testing::TestWithParam<uint32_t> {
protected:
    std::unique_ptr<SyncContext> context{new SyncContext{}};
    AdbConnection* conn = &context->conn;
    TestPeer peer{};
    fs::path root;

    void SetUp() override {
        if (!peerNetworkAvailable())
            GTEST_SKIP() << "needs port 5037 in a private network namespace";
        heapInit(&context->heap, kRunHeapSize);
        std::memcpy(context->androidRoot, u"/sdcard", sizeof u"/sdcard");
        root = fs::temp_directory_path() /
               ("tandrix-transfers-" +
                std::to_string(testing::UnitTest::GetInstance()->random_seed()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
        osNarrowToWide(root.string().c_str(), context->hostRoot, kRootChars);
        std::memcpy(context->altRoot, context->hostRoot, sizeof context->altRoot);
        context->timeRounding = 4;
        context->requestWindow = GetParam();
        context->copyFlags =
            kCopyCreateAndroid | kCopyUpdateAndroid | kCopyCreateHost | kCopyUpdateHost;
    }
    void TearDown() override {
        adbRelease(conn);
        peerFinish(&peer);
        for (int call = 0; call < OS_CALL_COUNT; ++call) osFailCall(static_cast<OsCall>(call), 0);
        if (context->heap.base != nullptr) heapRelease(&context->heap);
        fs::remove_all(root);
    }
    void serve(std::function<void(PeerLink*)> script) {
        ASSERT_TRUE(peerStart(&peer, std::move(script)));
        ASSERT_TRUE(adbConnect(conn));
    }
    FileNode* node(FileNode* top, const char16_t* name, uint32_t size, int status) {
        FileNode* n = static_cast<FileNode*>(heapAlloc(&context->heap, sizeof(FileNode)));
        std::memset(n, 0, sizeof *n);
        n->parent = top;
        n->name = heapDupWide(&context->heap, name);
        n->mode = kModeFile;
        n->size = size;
        n->mtime = kUnixEpochFileTime + 1600000000ull * kFileTimePerSecond;
        n->status = status;
        return n;
    }
    // The copy pass over `n`'s side, with `n` as the only child of its top node.
    bool pass(FileNode* n) {
        n->parent->firstChild = n;
        n->nextSibling = nullptr;
        return n->parent == &context->hostTop ? pushPass(context.get()) : pullPass(context.get());
    }
    // The host directory holds exactly the old file, unchanged.
    void expectOldFileOnly() {
        EXPECT_EQ(readAll(root / "f.txt"), "old contents");
        int entries = 0;
        for (const auto& entry : fs::directory_iterator(root)) {
            (void)entry;
            ++entries;
        }
        EXPECT_EQ(entries, 1) << "a temporary file was left behind";
    }
};

// A device that sends "hello" for /sdcard/f.txt, in two DATA records, then DONE.
void sendHello(PeerLink* link) {
    std::string request = "RECV" + le32(13) + "/sdcard/f.txt";
    EXPECT_EQ(peerRead(link, request.size()), request);
    peerWrite(link, "DATA" + le32(2) + "he" + "DATA" + le32(3) + "llo" + "DONE" + le32(0));
    peerRead(link, 1);  // until the client closes
}

TEST_P(TransferNet, PullWhoseHostWriteFailsKeepsTheOldFile) {
    std::ofstream(root / "f.txt") << "old contents";
    FileNode* device = node(&context->androidTop, u"f.txt", 5, AndroidFileNewer);
    serve(sendHello);
    osFailCall(OS_WRITE, 2);  // the second record cannot be written
    EXPECT_FALSE(pass(device));
    expectOldFileOnly();
    EXPECT_EQ(context->statusCounts[CreatedOnHost] + context->statusCounts[UpdatedOnHost], 0u);
}

TEST_P(TransferNet, PullWhoseRenameFailsNamesTheTargetAndKeepsTheOldFile) {
    std::ofstream(root / "f.txt") << "old contents";
    FileNode* device = node(&context->androidTop, u"f.txt", 5, AndroidFileNewer);
    serve(sendHello);
    osFailCall(OS_RENAME, 1);
    EXPECT_EQ(raisedCode([&] { pass(device); }), uint32_t(ERR_FILE_CREATE));
    EXPECT_NE(std::string(raisedText()).find("f.txt"), std::string::npos);
    expectOldFileOnly();
}

TEST_P(TransferNet, PullReplacesTheFileOnlyAfterDone) {
    std::ofstream(root / "f.txt") << "old contents";
    FileNode* device = node(&context->androidTop, u"f.txt", 5, AndroidFileNewer);
    serve(sendHello);
    EXPECT_TRUE(pass(device));
    EXPECT_EQ(readAll(root / "f.txt"), "hello");
    auto written = fs::last_write_time(root / "f.txt");
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::file_clock::to_sys(written).time_since_epoch())
                       .count();
    EXPECT_EQ(seconds, 1600000000);
    EXPECT_EQ(context->statusCounts[CreatedOnHost], 1u);
}

TEST_P(TransferNet, PushWhoseHostReadFailsSendsNoData) {
    std::ofstream(root / "f.txt") << "some data";
    FileNode* host = node(&context->hostTop, u"f.txt", 9, HostFileOnly);
    std::string received;
    serve([&](PeerLink* link) {
        received = peerRead(link, 1024);  // whatever comes before the client closes
    });
    osFailCall(OS_READ, 1);
    EXPECT_FALSE(pass(host));
    adbRelease(conn);
    peerFinish(&peer);
    // SEND goes out together with the first DATA record, so a file that cannot be
    // read sends nothing at all.
    EXPECT_EQ(received, "");
    EXPECT_EQ(context->statusCounts[CreatedOnAndroid], 0u);
}

// A host file that vanished or changed size since it was listed is skipped before
// anything is sent, counted, and the run goes on.
TEST_P(TransferNet, PushOfAFileThatChangedSinceListedSendsNothing) {
    std::ofstream(root / "grown.txt") << "grown since";
    FileNode* grown = node(&context->hostTop, u"grown.txt", 5, HostFileNewer);
    FileNode* gone = node(&context->hostTop, u"gone.txt", 5, HostFileOnly);
    std::string received;
    serve([&](PeerLink* link) { received = peerRead(link, 1024); });
    EXPECT_TRUE(pass(grown));
    EXPECT_TRUE(pass(gone));
    adbRelease(conn);
    peerFinish(&peer);
    EXPECT_EQ(received, "");
    EXPECT_EQ(context->pushesSkipped, 2u);
}

TEST_P(TransferNet, NodeWhosePathDoesNotFitIsSkippedAndNothingSent) {
    std::u16string longName(600, u'n');  // 600 three-byte characters: beyond 1023 UTF-8 bytes
    for (char16_t& c : longName) c = u'\u00e9';
    FileNode* device = node(&context->androidTop, longName.c_str(), 5, AndroidFileOnly);
    FileNode* host = node(&context->hostTop, longName.c_str(), 5, HostFileOnly);
    std::string received;
    serve([&](PeerLink* link) { received = peerRead(link, 1024); });
    EXPECT_TRUE(pass(device));
    EXPECT_TRUE(pass(host));
    adbRelease(conn);
    peerFinish(&peer);
    EXPECT_EQ(received, "");
    EXPECT_TRUE(fs::is_empty(root));
}

}  // namespace

// Both sides write more than the link holds before they read: the client must read
// the peer's bytes while its own wait for room, or both wait for good.
TEST_P(TransferNet, SendThatFindsNoRoomReadsTheRepliesThatWait) {
    constexpr size_t kBytes = 16u << 20;  // beyond what loopback buffers hold both ways
    std::string received;
    serve([&](PeerLink* link) {
        peerWrite(link, std::string(kBytes, 'r'));
        received = peerRead(link, kBytes);
    });
    struct Replies {
        AdbConnection* conn;
        size_t left;
        int reads;
    } replies{conn, kBytes, 0};
    auto readReply = [](void* state) {
        Replies* r = static_cast<Replies*>(state);
        static char piece[1 << 16];
        size_t count = r->left < sizeof piece ? r->left : sizeof piece;
        if (count == 0) return false;
        adbReceiveAll(r->conn, piece, static_cast<uint32_t>(count));
        r->left -= count;
        r->reads += 1;
        return true;
    };
    std::string data(kBytes, 's');
    EXPECT_TRUE(adbSendReading(conn, data.data(), kBytes, readReply, &replies));
    EXPECT_GT(replies.reads, 0);  // some of the peer's bytes were read while sending
    while (replies.left > 0) readReply(&replies);
    adbRelease(conn);
    peerFinish(&peer);
    EXPECT_EQ(received.size(), kBytes);
}

INSTANTIATE_TEST_SUITE_P(Windows, TransferNet, testing::Values(1u, 0u));
