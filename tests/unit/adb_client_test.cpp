// The ADB client: connection, host-service requests and file sync queries, checked
// byte for byte against a scripted peer on port 5037 (in a private network namespace)
// and, where no network is needed, directly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "adb/syncqueries.h"
#include "adb_peer.h"
#include "raised_code.h"
#include "run/compare.h"
#include "run/context.h"
#include "run/lookahead.h"
#include "support/errors.h"
#include "support/heap.h"
#include "sync_halves.h"

namespace {

std::string le32(uint32_t value) {
    unsigned char bytes[4];
    writeLe32(bytes, value);
    return std::string(reinterpret_cast<char*>(bytes), 4);
}

std::string syncRequest(const std::string& id, const std::string& payload) {
    return id + le32(static_cast<uint32_t>(payload.size())) + payload;
}

std::string statReply(uint32_t mode, uint32_t size, uint32_t time) {
    return "STAT" + le32(mode) + le32(size) + le32(time);
}

std::string dent(uint32_t mode, uint32_t size, uint32_t time, const std::string& name) {
    return "DENT" + le32(mode) + le32(size) + le32(time) +
           le32(static_cast<uint32_t>(name.size())) + name;
}

std::string narrow(const char16_t* wide) {
    std::string out;
    for (; *wide != 0; ++wide) out += static_cast<char>(*wide);
    return out;
}

constexpr uint32_t kFileMode = 0x81A4;
constexpr uint32_t kDirMode = 0x41ED;
constexpr uint64_t kUnset = 0x1234;

// ---------------------------------------------------------------------------
// Without a network
// ---------------------------------------------------------------------------

TEST(AdbHex, DigitsAndFourDigitLengths) {
    struct Row {
        int c;
        int value;
    };
    const Row digits[] = {{'0', 0},  {'9', 9},         {'a', 10}, {'f', 15}, {'A', 10},
                          {'F', 15}, {'g', -1},        {'G', -1}, {' ', -1}, {'/', -1},
                          {':', -1}, {0x100 + '7', 7}, {-1, -1}};
    for (const Row& row : digits) EXPECT_EQ(hexDigitValue(row.c), row.value) << row.c;

    struct Text {
        const char* text;
        bool ok;
        uint32_t value;
    };
    const Text lengths[] = {{"0000", true, 0},    {"000a", true, 10},     {"000A", true, 10},
                            {"07D0", true, 2000}, {"ffFF", true, 0xFFFF}, {"12G4", false, 0},
                            {"-001", false, 0},   {"00 1", false, 0}};
    for (const Text& row : lengths) {
        uint32_t value = 77;
        EXPECT_EQ(parseHex4(row.text, &value), row.ok) << row.text;
        EXPECT_EQ(value, row.ok ? row.value : 77u) << row.text;  // untouched on failure
    }
    // Exactly four characters are read: what follows them does not matter.
    uint32_t value = 0;
    EXPECT_TRUE(parseHex4("0010zz", &value));
    EXPECT_EQ(value, 16u);
}

TEST(AdbFeatures, OnlyWholeNamesCount) {
    struct Row {
        const char* list;
        uint32_t bits;
    };
    const Row lists[] = {{"", 0},
                         {"shell_v2,cmd", 0},
                         {"cmd,stat_v2,ls_v2,abb", kFeatureStatV2 | kFeatureListV2},
                         {"ls_v2", kFeatureListV2},
                         {"stat_v2,", kFeatureStatV2},
                         {"xstat_v2,ls_v2x,stat_v", 0},
                         {"STAT_V2", 0}};
    for (const Row& row : lists)
        EXPECT_EQ(parseFeatureList(row.list, static_cast<uint32_t>(std::strlen(row.list))),
                  row.bits)
            << row.list;
}

TEST(AdbText, ControlCharactersBecomeQuestionMarks) {
    struct Row {
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"device 'x' not found", "device 'x' not found"},
        {"tab\tgone", "tab?gone"},
        {"a\x1b[2Jb", "a?[2Jb"},
        {"line\r\nend", "line??end"},
        {"del\x7f", "del?"},
        {"c1 \xc2\x9b"
         "31m",
         "c1 ?31m"},                                       // CSI written in UTF-8
        {"caf\xc3\xa9 \xc2\xa0", "caf\xc3\xa9 \xc2\xa0"},  // printable UTF-8 kept
        {std::string("nul\0in", 6), "nul?in"},
    };
    for (const Row& row : rows) {
        std::vector<char> text(row.in.begin(), row.in.end());
        text.push_back(0);
        size_t length = sanitiseServerBytes(text.data(), row.in.size());
        EXPECT_EQ(std::string(text.data(), length), row.out);
        EXPECT_EQ(std::strlen(text.data()), length);
    }
    char text[] = "bell\a";
    sanitiseServerText(text);
    EXPECT_STREQ(text, "bell?");
}

TEST(AdbSync, LittleEndianNumbers) {
    unsigned char bytes[4];
    writeLe32(bytes, 0x12345678);
    EXPECT_EQ(bytes[0], 0x78);
    EXPECT_EQ(bytes[3], 0x12);
    EXPECT_EQ(readLe32(bytes), 0x12345678u);
    const unsigned char high[4] = {0xFF, 0x00, 0x00, 0x80};
    EXPECT_EQ(readLe32(high), 0x800000FFu);
}

// A record with no connection: anything that reached the socket would raise.
struct Offline {
    std::unique_ptr<SyncContext> context{new SyncContext{}};
    Offline() {
        heapInit(&context->heap, kRunHeapSize);
        std::memcpy(context->androidRoot, u"/sdcard", sizeof u"/sdcard");
    }
    ~Offline() { heapRelease(&context->heap); }
};

// A walk over the look-ahead with a window of `window` directories (0: the default).
struct OfflineWalk {
    DeviceLookahead ahead;
    OfflineWalk(SyncContext* context, uint32_t window) {
        context->requestWindow = window;
        beginLookahead(&ahead, context);
    }
    ~OfflineWalk() { endLookahead(&ahead); }
};

TEST(AdbSync, NothingIsSentForANullDirectoryOrAPathThatDoesNotFit) {
    Offline offline;
    SyncContext* context = offline.context.get();
    EXPECT_EQ(raisedCode([&] {
                  OfflineWalk walk(context, 0);
                  compareTrees(context, nullptr, nullptr);
              }),
              0u);

    // A device path longer than 1023 bytes is never sent cut.
    for (size_t i = 0; i < 1000; ++i) context->androidRoot[i] = u'r';
    context->androidRoot[0] = u'/';
    context->androidRoot[1000] = 0;
    std::u16string longName(100, u'n');
    FileNode node{};
    node.parent = &context->androidTop;
    node.name = longName.data();
    node.mode = kUnset;
    EXPECT_EQ(
        raisedCode([&] { EXPECT_FALSE(statNow(&context->conn, context->androidRoot, &node)); }),
        0u);
    EXPECT_EQ(node.mode, kUnset);

    // Neither its marker nor its listing is asked for: it reads as empty.
    node.mode = kModeDirectory;
    for (uint32_t window : {1u, 0u}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(raisedCode([&] {
                      OfflineWalk walk(context, window);
                      EXPECT_FALSE(awaitDeviceMarker(&walk.ahead, &node));
                      DeviceDirId id{};
                      takeDeviceListing(&walk.ahead, &node, &id);
                  }),
                  0u);
        std::string message = testing::internal::GetCapturedStderr();
        EXPECT_EQ(node.firstChild, nullptr);
        EXPECT_NE(message.find("path too long"), std::string::npos) << message;
    }

    // A payload beyond the request buffer raises before anything is sent.
    std::string huge(kSyncPayloadBytes + 1, 'x');
    EXPECT_EQ(raisedCode([&] {
                  sendSyncRequest(&context->conn, "STAT", huge.data(),
                                  static_cast<uint32_t>(huge.size()));
              }),
              static_cast<uint32_t>(ERR_ADB_SEND));
}

// ---------------------------------------------------------------------------
// Against a scripted peer on port 5037
// ---------------------------------------------------------------------------

// The wait limit of these tests: long enough for a loaded machine, short enough that
// waiting it out costs little.
constexpr uint32_t kTestWaitLimitMs = 2000;

class AdbNet : public testing::Test {
public:
    std::unique_ptr<SyncContext> context{new SyncContext{}};
    AdbConnection* conn = &context->conn;
    TestPeer peer{};

    void SetUp() override {
        if (!peerNetworkAvailable())
            GTEST_SKIP() << "needs port 5037 in a private network namespace";
        adbSetWaitLimit(kTestWaitLimitMs);
        heapInit(&context->heap, kRunHeapSize);
        std::memcpy(context->androidRoot, u"/sdcard", sizeof u"/sdcard");
    }
    void TearDown() override {
        adbSetWaitLimit(kAdbTimeoutMs);
        adbRelease(conn);  // lets a peer that waits for the close finish
        peerFinish(&peer);
        osFailCall(OS_NET_SEND, 0);
        osFailCall(OS_NET_RECEIVE, 0);
        if (context->heap.base != nullptr) heapRelease(&context->heap);
    }
    // Starts the peer with `script` and connects to it.
    void serve(std::function<void(PeerLink*)> script) {
        ASSERT_TRUE(peerStart(&peer, std::move(script)));
        ASSERT_TRUE(adbConnect(conn));
    }
    FileNode* child(const char16_t* name) {
        FileNode* node = static_cast<FileNode*>(heapAlloc(&context->heap, sizeof(FileNode)));
        std::memset(node, 0, sizeof *node);
        node->parent = &context->androidTop;
        node->name = heapDupWide(&context->heap, name);
        node->mode = kModeDirectory;
        return node;
    }
};

// Waits until the client closes (read returns nothing more).
void awaitClose(PeerLink* link) {
    peerRead(link, 1);
}

TEST_F(AdbNet, ConnectIsRefusedWhenNothingListens) {
    EXPECT_FALSE(adbConnect(conn));
    adbRelease(conn);
    adbRelease(conn);  // a second release closes nothing twice
    EXPECT_EQ(conn->net.socketHandle, 0);
}

TEST_F(AdbNet, RequestsAreFramedWithFourHexDigits) {
    std::string first, second;
    serve([&](PeerLink* link) {
        first = peerRead(link, 22);
        peerWrite(link, "OKAY");
        second = peerRead(link, 9);
        peerWrite(link, "OKAY");
        awaitClose(link);
    });
    EXPECT_EQ(adbBytesAvailable(conn), 0u);  // idle: nothing pending, no wait
    sendHostRequest(conn, "host:transport-any");
    readHostStatus(conn);
    sendHostRequest(conn, "sync:");
    readHostStatus(conn);
    adbRelease(conn);
    peerFinish(&peer);
    EXPECT_EQ(first, "0012host:transport-any");
    EXPECT_EQ(second, "0005sync:");
}

TEST_F(AdbNet, TransportChoice) {
    struct Row {
        uint32_t localOnly;
        std::string serial;
        std::string request;
    };
    const std::string longSerial(255, 's');
    const Row rows[] = {
        {1, "emulator-5554", "0014host:transport-local"},  // localOnly wins over a serial
        {0, "emulator-5554", "001Chost:transport:emulator-5554"},
        {0, "", "0012host:transport-any"},
        {0, longSerial, "010Ehost:transport:" + longSerial},
    };
    for (const Row& row : rows) {
        std::string request;
        conn->localOnly = row.localOnly;
        std::memset(conn->serial, 0, sizeof conn->serial);
        std::memcpy(conn->serial, row.serial.data(), row.serial.size());
        serve([&](PeerLink* link) {
            request = peerRead(link, row.request.size());
            peerWrite(link, "OKAY");
            awaitClose(link);
        });
        EXPECT_EQ(raisedCode([&] { selectTransport(conn); }), 0u) << row.request;
        adbRelease(conn);
        peerFinish(&peer);
        EXPECT_EQ(request, row.request);
    }
}

TEST_F(AdbNet, StatusReplies) {
    struct Row {
        std::string reply;
        uint32_t code;
        std::string text;
    };
    const std::string longText(2000, 'x');
    const Row rows[] = {
        {"OKAY", 0, ""},
        {"FAIL0000", ERR_ADB_ERROR, ""},
        {"FAIL000a0123456789", ERR_ADB_ERROR, "0123456789"},
        {"FAIL000A0123456789", ERR_ADB_ERROR, "0123456789"},
        {"FAIL0016device 'abc' not found", ERR_ADB_ERROR, "device 'abc' not found"},
        {"FAIL12G4whatever", ERR_ADB_UNKNOWN_RESPONSE, ""},
        {"OKAX", ERR_ADB_UNKNOWN_RESPONSE, ""},
        {"FAIL07D0" + longText, ERR_ADB_ERROR, std::string(1023, 'x')},
        {"FAIL0009a\x1b[2J\tb\r\n", ERR_ADB_ERROR, "a?[2J?b??"},
    };
    for (const Row& row : rows) {
        serve([&](PeerLink* link) {
            peerRead(link, 9);
            peerWrite(link, row.reply);
            awaitClose(link);
        });
        uint32_t code = raisedCode([&] {
            sendHostRequest(conn, "sync:");
            readHostStatus(conn);
        });
        EXPECT_EQ(code, row.code) << row.reply.substr(0, 12);
        if (row.code == ERR_ADB_ERROR) {
            EXPECT_EQ(std::string(raisedText()), row.text);
        }
        adbRelease(conn);
        peerFinish(&peer);
    }
}

TEST_F(AdbNet, StatOfAMissingPathLeavesTheNodeAlone) {
    std::string request;
    const std::string expected = syncRequest("STAT", "/sdcard/Music");
    serve([&](PeerLink* link) {
        request = peerRead(link, expected.size());
        peerWrite(link, statReply(0, 0, 0));
        peerRead(link, expected.size());
        peerWrite(link, statReply(kFileMode, 42, 0));
        peerRead(link, expected.size());
        peerWrite(link, statReply(kDirMode, 0, 1000000000));
        awaitClose(link);
    });
    FileNode* node = child(u"Music");
    node->mode = kUnset;
    node->size = kUnset;
    node->mtime = kUnset;
    EXPECT_FALSE(statNow(conn, context->androidRoot, node));
    EXPECT_EQ(request, expected);
    EXPECT_EQ(node->mode, kUnset);
    EXPECT_EQ(node->size, kUnset);
    EXPECT_EQ(node->mtime, kUnset);

    EXPECT_TRUE(statNow(conn, context->androidRoot, node));  // time 0 keeps the time it had
    EXPECT_EQ(node->mode, kFileMode);
    EXPECT_EQ(node->size, 42u);
    EXPECT_EQ(node->mtime, kUnset);

    EXPECT_TRUE(statNow(conn, context->androidRoot, node));
    EXPECT_EQ(node->mode, kDirMode);
    EXPECT_EQ(node->mtime, 116444736000000000ull + 1000000000ull * 10000000ull);
}

TEST_F(AdbNet, MarkerTestAsksForTheMarkerAndNothingForANullDirectory) {
    std::string first;
    const std::string stat = syncRequest("STAT", "/sdcard/DCIM/.notandrix");
    serve([&](PeerLink* link) {
        first = peerRead(link, stat.size());  // anything the null directory sent comes first
        peerWrite(link, statReply(kFileMode, 0, 0));
        awaitClose(link);
    });
    {
        DeviceLookahead ahead;  // a walk asks nothing about a missing device directory
        beginLookahead(&ahead, context.get());
        compareTrees(context.get(), nullptr, nullptr);
        endLookahead(&ahead);
    }
    EXPECT_TRUE(markerNow(conn, context->androidRoot, child(u"DCIM")));
    adbRelease(conn);
    peerFinish(&peer);
    EXPECT_EQ(first, stat);
}

// The look-ahead's marker STAT and LIST of one directory: with a window of one the
// LIST waits for the STAT's reply and is not sent when the marker is there; with a
// window of many both go out in one write, and a listing nobody waits for is read
// and dropped, leaving the stream in step.
TEST_F(AdbNet, LookaheadAsksForTheMarkerAndTheListing) {
    const std::string stat = syncRequest("STAT", "/sdcard/DCIM/.notandrix");
    const std::string list = syncRequest("LIST", "/sdcard/DCIM");
    const std::string listing =
        dent(kFileMode, 3, 7, "b") + dent(kFileMode, 1, 7, "a") + "DONE" + std::string(16, '\0');
    for (uint32_t window : {1u, 0u}) {
        for (bool marked : {false, true}) {
            std::string asked;
            const std::string quit = syncRequest("QUIT", "");
            bool listed = window != 1 || !marked;
            serve([&](PeerLink* link) {
                asked = peerRead(link, stat.size() + (window != 1 ? list.size() : 0));
                peerWrite(link, marked ? statReply(kFileMode, 0, 0) : statReply(0, 0, 0));
                if (window == 1 && !marked) asked += peerRead(link, list.size());
                if (listed) peerWrite(link, listing);
                asked += peerRead(link, quit.size());  // then closes, as a device does
            });
            context->requestWindow = window;
            FileNode* directory = child(u"DCIM");
            DeviceLookahead ahead;
            beginLookahead(&ahead, context.get());
            EXPECT_EQ(awaitDeviceMarker(&ahead, directory), marked);
            if (marked)
                abandonDeviceListing(&ahead, directory);
            else {
                DeviceDirId id{};
                takeDeviceListing(&ahead, directory, &id);
            }
            endLookahead(&ahead);
            syncQuit(conn);
            adbRelease(conn);
            peerFinish(&peer);
            EXPECT_EQ(asked, stat + (listed ? list : std::string()) + quit) << window << marked;
            std::vector<std::string> names;
            for (FileNode* node = directory->firstChild; node != nullptr; node = node->nextSibling)
                names.push_back(narrow(node->name));
            const std::vector<std::string> expected =
                marked ? std::vector<std::string>{} : std::vector<std::string>{"a", "b"};
            EXPECT_EQ(names, expected);
        }
    }
}

TEST_F(AdbNet, ListOfAnEmptyDirectory) {
    std::string request;
    const std::string expected = syncRequest("LIST", "/sdcard/Empty");
    serve([&](PeerLink* link) {
        request = peerRead(link, expected.size());
        peerWrite(link, dent(kDirMode, 0, 5, ".") + dent(kDirMode, 0, 5, "..") + dent(0, 0, 0, "") +
                            "DONE" + std::string(16, '\0'));
        awaitClose(link);
    });
    FileNode* directory = child(u"Empty");
    listNow(conn, &context->heap, context->androidRoot, directory);
    EXPECT_EQ(request, expected);
    EXPECT_EQ(directory->firstChild, nullptr);
}

TEST_F(AdbNet, ListKeepsFilesAndDirectoriesInNameOrderAndSkipsTheRest) {
    bool windowsNames = osPathSeparator() == u'\\';
    std::string longName(300, 'L');
    std::string listing =
        dent(kFileMode, 5, 1000, "b.txt") + dent(kDirMode, 4096, 2000, "a") +
        dent(0xA1FF, 0, 0, "link") + dent(0x11A4, 0, 0, "fifo") + dent(0xC1ED, 0, 0, "sock") +
        dent(0x21A4, 0, 0, "tty") + dent(0x61A4, 0, 0, "disk") + dent(kFileMode, 7, 0, "z0") +
        dent(kDirMode, 0, 0, "..") + dent(kDirMode, 0, 0, ".") +
        dent(kFileMode, 1, 1, "up/../../evil") + dent(kFileMode, 1, 1, "") +
        dent(kFileMode, 1, 1, longName) + dent(kFileMode, 1, 1, std::string("p\0q", 3)) +
        dent(kFileMode, 1, 1, "esc\x1b[2J") + dent(kFileMode, 1, 1, "c:d") +
        dent(0xA1FF, 0, 0, longName) +  // a skipped type with a long name: silent
        "DONE" + le32(0) + le32(0) + le32(0) + le32(3) + "xyz";
    std::string list, next;
    const std::string nextRequest = syncRequest("STAT", "/sdcard/next");
    serve([&](PeerLink* link) {
        list = peerRead(link, syncRequest("LIST", "/sdcard/Mixed").size());
        peerWrite(link, listing);
        next = peerRead(link, nextRequest.size());
        peerWrite(link, statReply(kFileMode, 77, 1));
        awaitClose(link);
    });
    FileNode* directory = child(u"Mixed");
    testing::internal::CaptureStderr();
    listNow(conn, &context->heap, context->androidRoot, directory);
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(adbBytesAvailable(conn), 0u);  // the whole reply was read, DONE's name too

    std::vector<std::string> names;
    for (FileNode* node = directory->firstChild; node != nullptr; node = node->nextSibling) {
        names.push_back(narrow(node->name));
        EXPECT_EQ(node->parent, directory);
    }
    // ':' and control characters cannot be in a Windows name; a POSIX name holds them.
    const std::vector<std::string> expected =
        windowsNames ? std::vector<std::string>{"a", "b.txt", "z0"}
                     : std::vector<std::string>{"a", "b.txt", "c:d", "esc\x1b[2J", "z0"};
    EXPECT_EQ(names, expected);

    FileNode* a = directory->firstChild;
    EXPECT_EQ(a->mode, kDirMode);
    EXPECT_EQ(a->size, 4096u);
    FileNode* b = a->nextSibling;
    EXPECT_EQ(b->mode, kFileMode);
    EXPECT_EQ(b->size, 5u);
    EXPECT_EQ(b->mtime, 116444736000000000ull + 1000ull * 10000000ull);
    FileNode* last = b;
    while (last->nextSibling != nullptr) last = last->nextSibling;
    EXPECT_EQ(last->mtime, 0u);  // DENT with time 0
    EXPECT_EQ(last->size, 7u);

    // One line per dropped name, naming the device directory and the entry.
    const char* lines[] = {
        "Skipped device entry \"up/../../evil\" in \"/sdcard/Mixed\": not a valid file name",
        "Skipped device entry \"\" in \"/sdcard/Mixed\": not a valid file name",
        "Skipped device entry \"p?q\" in \"/sdcard/Mixed\": not a valid file name",
    };
    for (const char* line : lines) EXPECT_NE(messages.find(line), std::string::npos) << line;
    std::string longLine = "Skipped device entry \"" + std::string(255, 'L') +
                           "\" in \"/sdcard/Mixed\": name longer than 255 bytes";
    EXPECT_NE(messages.find(longLine), std::string::npos) << messages;
    EXPECT_EQ(messages.find("link"), std::string::npos);
    EXPECT_EQ(messages.find('\x1b'), std::string::npos);  // never raw to the console
    if (windowsNames) {
        EXPECT_NE(messages.find("\"c:d\""), std::string::npos);
        EXPECT_NE(messages.find("\"esc?[2J\""), std::string::npos);
    }

    // The stream is in step: the next request gets its own reply.
    FileNode* after = child(u"next");
    EXPECT_TRUE(statNow(conn, context->androidRoot, after));
    EXPECT_EQ(after->size, 77u);
    EXPECT_EQ(list, syncRequest("LIST", "/sdcard/Mixed"));
    EXPECT_EQ(next, nextRequest);
}

TEST_F(AdbNet, UnexpectedIdsAndAClosedConnection) {
    struct Row {
        std::string reply;
        bool list;
        uint32_t code;
    };
    const Row rows[] = {
        {"DENX" + std::string(16, '\0'), true, ERR_ADB_UNKNOWN_RESPONSE},
        {"FAIL" + le32(0), false, ERR_ADB_UNKNOWN_RESPONSE},
        {"STAT" + le32(kFileMode) + "\x01", false, ERR_ADB_NO_RESPONSE},  // closes mid-record
        {dent(kFileMode, 1, 1, "abc").substr(0, 22), true, ERR_ADB_NO_RESPONSE},
    };
    for (const Row& row : rows) {
        serve([&](PeerLink* link) {
            peerRead(link, syncRequest("STAT", "/sdcard/x").size());
            peerWrite(link, row.reply);  // then the script ends: the peer closes
        });
        FileNode* node = child(u"x");
        uint32_t code = raisedCode([&] {
            if (row.list)
                listNow(conn, &context->heap, context->androidRoot, node);
            else
                statNow(conn, context->androidRoot, node);
        });
        EXPECT_EQ(code, row.code) << row.reply.substr(0, 4);
        adbRelease(conn);
        peerFinish(&peer);
    }
}

TEST_F(AdbNet, FailingCallsRaiseAndACountOfZeroTouchesNothing) {
    serve([&](PeerLink* link) {
        peerWrite(link, "abc");
        awaitClose(link);
    });
    char buffer[4] = {};
    osFailCall(OS_NET_RECEIVE, 1);
    EXPECT_EQ(raisedCode([&] { adbReceiveAll(conn, buffer, 0); }), 0u);
    // The hook is still armed: the receive of zero bytes made no call.
    EXPECT_EQ(raisedCode([&] { adbReceiveAll(conn, buffer, 1); }),
              static_cast<uint32_t>(ERR_ADB_NO_RESPONSE));
    adbReceiveAll(conn, buffer, 1);
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(adbBytesAvailable(conn), 2u);

    osFailCall(OS_NET_SEND, 1);
    EXPECT_EQ(raisedCode([&] { sendHostRequest(conn, "sync:"); }),
              static_cast<uint32_t>(ERR_ADB_SEND));
}

// A peer that reads the request and says nothing until the client gives up.
uint32_t silentPeerResult(AdbNet* test) {
    test->serve([&](PeerLink* link) {
        peerRead(link, 9);
        awaitClose(link);
    });
    return raisedCode([&] {
        sendHostRequest(test->conn, "sync:");
        readHostStatus(test->conn);
    });
}

// The other tests of waits use a short limit; this one proves the real one, on its
// own so that it overlaps with the rest.
TEST_F(AdbNet, SlowSilentServerTimesOutAfterTheRealLimit) {
    adbSetWaitLimit(kAdbTimeoutMs);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(silentPeerResult(this), static_cast<uint32_t>(ERR_ADB_NO_RESPONSE));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kAdbTimeoutMs));
}

TEST_F(AdbNet, SilentServerTimesOut) {
    EXPECT_EQ(silentPeerResult(this), static_cast<uint32_t>(ERR_ADB_NO_RESPONSE));
}

TEST_F(AdbNet, TricklingServerKeepsTheReceiveAlive) {
    // Each byte within the limit, the whole reply in nearly twice the limit.
    serve([&](PeerLink* link) {
        peerRead(link, 9);
        for (char c : std::string("OKAY")) {
            peerPause(kTestWaitLimitMs * 9 / 20);
            peerWrite(link, std::string(1, c));
        }
        awaitClose(link);
    });
    EXPECT_EQ(raisedCode([&] {
                  sendHostRequest(conn, "sync:");
                  readHostStatus(conn);
              }),
              0u);
}

}  // namespace
