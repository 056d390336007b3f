// The sync reply readers fed from the input through the fuzz connection: STAT or LST2,
// the DENT stream of LIST or the DNT2 stream of LIS2, the SEND status and the RECV
// record stream. The first byte picks the reader (low two bits) and the v2 features
// the device offers (the next two). A reader either returns or raises a SyncError;
// nothing else may happen (no crash, no endless loop).
#include <cstdint>
#include <cstring>

#include "adb/connection.h"
#include "adb/syncqueries.h"
#include "adb/transfers.h"
#include "fuzz_net.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "support/heap.h"
#include "tree/filetree.h"

namespace {

constexpr uint32_t kFuzzHeapBytes = 0x100000;  // room for one listing's nodes
constexpr uint32_t kMaxRecords = 4096;         // records of one RECV stream read

void readReplies(AdbConnection* conn, PrivateHeap* heap, uint8_t which) {
    FileNode top{};
    top.mode = kModeDirectory;
    switch (which % 4) {
    case 0:
        readStatReplyIntoNode(conn, u"/sdcard", &top);
        break;
    case 1:
        readListReply(conn, heap, u"/sdcard", &top, nullptr);
        for (FileNode* n = top.firstChild; n != nullptr; n = n->nextSibling) {
            char16_t wide[kPathChars];
            char name[kDentNameBytes];
            utf16ToUtf8(n->name, name, sizeof name);
            if (deviceNameProblem(name, static_cast<uint32_t>(std::strlen(name)), wide) != nullptr)
                __builtin_trap();  // a node was made from a name the check refuses
        }
        break;
    case 2:
        readSendStatus(conn);
        break;
    default: {
        static unsigned char buffer[kDataChunkBytes];
        uint32_t length = 0;
        for (uint32_t records = 0; records < kMaxRecords && readRecvRecord(conn, &length);
             ++records) {
            while (length > 0) {
                uint32_t piece = length < sizeof buffer ? length : sizeof buffer;
                adbReceiveAll(conn, buffer, piece);
                length -= piece;
            }
        }
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static PrivateHeap heap;
    heapInit(&heap, kFuzzHeapBytes);
    AdbConnection conn{};
    adbConnect(&conn);
    conn.features = (data[0] >> 2) & (kFeatureStatV2 | kFeatureListV2);
    fuzzSetReplies(data + 1, size - 1);
    try {
        readReplies(&conn, &heap, data[0]);
    } catch (const SyncError&) {
        // a refused reply: the run would end here with its message
    }
    adbRelease(&conn);
    heapRelease(&heap);
    return 0;
}
