// The ADB client against adbsim, an independent server: each case runs only when
// tests/adb_client_adbsim.sh has started adbsim with the case's devices and faults
// (TANDRIX_ADBSIM_CASE names the case); the script also checks adbsim's request log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "adb/syncqueries.h"
#include "raised_code.h"
#include "run/compare.h"
#include "run/context.h"
#include "run/lookahead.h"
#include "support/errors.h"
#include "support/heap.h"
#include "sync_halves.h"

namespace {

std::string narrow(const char16_t* wide) {
    std::string out;
    for (; *wide != 0; ++wide) out += static_cast<char>(*wide);
    return out;
}

// The device tree the script builds below /sdcard:
//   empty/                      no entries
//   mixed/a/  mixed/b.txt (5 bytes)  mixed/zero (time 0)  mixed/link -> b.txt  mixed/fifo
//   marked/.notandrix
class AdbSim : public testing::Test {
protected:
    std::unique_ptr<SyncContext> context{new SyncContext{}};
    AdbConnection* conn = &context->conn;

    void SetUp() override {
        const char* running = std::getenv("TANDRIX_ADBSIM_CASE");
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        if (running == nullptr || std::strcmp(running, info->name()) != 0)
            GTEST_SKIP() << "run by tests/adb_client_adbsim.sh";
        heapInit(&context->heap, kRunHeapSize);
        std::memcpy(context->androidRoot, u"/sdcard", sizeof u"/sdcard");
        ASSERT_TRUE(adbConnect(conn));
    }
    void TearDown() override {
        adbRelease(conn);
        if (context->heap.base != nullptr) heapRelease(&context->heap);
    }
    // Transport and sync mode, as a run begins.
    void enterSync() {
        selectTransport(conn);
        sendHostRequest(conn, "sync:");
        readHostStatus(conn);
    }
    FileNode* directory(const char16_t* name) {
        FileNode* node = static_cast<FileNode*>(heapAlloc(&context->heap, sizeof(FileNode)));
        std::memset(node, 0, sizeof *node);
        node->parent = &context->androidTop;
        node->name = heapDupWide(&context->heap, name);
        node->mode = kModeDirectory;
        return node;
    }
    std::vector<std::string> childNames(const FileNode* dir) {
        std::vector<std::string> names;
        for (FileNode* node = dir->firstChild; node != nullptr; node = node->nextSibling)
            names.push_back(narrow(node->name));
        return names;
    }
    void expectFail(const char* text) {
        EXPECT_EQ(raisedCode([&] { enterSync(); }), static_cast<uint32_t>(ERR_ADB_ERROR));
        EXPECT_STREQ(raisedText(), text);
    }
};

TEST_F(AdbSim, QueriesOverOneDevice) {
    enterSync();
    EXPECT_TRUE(statNow(conn, context->androidRoot, &context->androidTop));
    EXPECT_TRUE(isDirectory(&context->androidTop));
    FileNode* missing = directory(u"missing");
    missing->mode = 0;
    EXPECT_FALSE(statNow(conn, context->androidRoot, missing));
    EXPECT_EQ(missing->mode, 0u);

    FileNode* empty = directory(u"empty");
    listNow(conn, &context->heap, context->androidRoot, empty);
    EXPECT_EQ(empty->firstChild, nullptr);

    FileNode* mixed = directory(u"mixed");
    listNow(conn, &context->heap, context->androidRoot, mixed);
    EXPECT_EQ(childNames(mixed), (std::vector<std::string>{"a", "b.txt", "zero"}));
    FileNode* a = mixed->firstChild;
    FileNode* b = a->nextSibling;
    FileNode* zero = b->nextSibling;
    EXPECT_TRUE(isDirectory(a));
    EXPECT_EQ(b->mode & kModeTypeMask, kModeFile);
    EXPECT_EQ(b->size, 5u);
    EXPECT_NE(b->mtime, 0u);
    EXPECT_EQ(zero->mtime, 0u);

    EXPECT_FALSE(markerNow(conn, context->androidRoot, mixed));
    EXPECT_TRUE(markerNow(conn, context->androidRoot, directory(u"marked")));
    // A walk asks nothing about a device directory that is not there.
    DeviceLookahead ahead;
    beginLookahead(&ahead, context.get());
    compareTrees(context.get(), nullptr, nullptr);
    endLookahead(&ahead);
    syncQuit(&context.get()->conn);
}

TEST_F(AdbSim, InjectedNamesAreSkipped) {
    enterSync();
    FileNode* mixed = directory(u"mixed");
    testing::internal::CaptureStderr();
    listNow(conn, &context->heap, context->androidRoot, mixed);
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(childNames(mixed), (std::vector<std::string>{"a", "b.txt", "zero"}));
    EXPECT_NE(messages.find("Skipped device entry \"a/b\" in \"/sdcard/mixed\""), std::string::npos)
        << messages;
    EXPECT_NE(messages.find("Skipped device entry \"\" in \"/sdcard/mixed\""), std::string::npos)
        << messages;
    EXPECT_NE(messages.find(std::string(255, 'n') + "\" in \"/sdcard/mixed\": name longer"),
              std::string::npos)
        << messages;
    // Nothing of the listing is left: the next request reads its own reply.
    EXPECT_EQ(adbBytesAvailable(conn), 0u);
    EXPECT_TRUE(statNow(conn, context->androidRoot, directory(u"empty")));
    syncQuit(&context.get()->conn);
}

TEST_F(AdbSim, NoDevice) {
    expectFail("no devices/emulators found");
}

TEST_F(AdbSim, UnknownSerial) {
    std::strcpy(conn->serial, "nosuch");
    expectFail("device 'nosuch' not found");
}

TEST_F(AdbSim, LocalTransportTakesTheEmulator) {
    conn->localOnly = 1;
    std::strcpy(conn->serial, "usb-1");
    EXPECT_EQ(raisedCode([&] { enterSync(); }), 0u);
}

TEST_F(AdbSim, LongFailTextKeepsItsFirst1023Bytes) {
    expectFail((std::string(1022, 'a') + "b").c_str());
}

TEST_F(AdbSim, ControlCharactersInAFailText) {
    expectFail("bad ?[31mred?[0m?tab?line");
}

TEST_F(AdbSim, ClosedInTheMiddleOfAReply) {
    enterSync();
    EXPECT_EQ(raisedCode([&] { statNow(conn, context->androidRoot, &context->androidTop); }),
              static_cast<uint32_t>(ERR_ADB_NO_RESPONSE));
}

}  // namespace
