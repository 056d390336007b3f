// File transfer records over the sync connection: SEND, DATA and DONE for a push, the
// SEND status, and the records of a RECV reply.
#include "adb/transfers.h"

#include <charconv>
#include <cstring>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "support/errors.h"

namespace {

constexpr uint32_t kRecordHeaderBytes = 8;   // id and 32-bit length

// One DATA record, header and file bytes contiguous, so each goes out in one send.
unsigned char sendBuffer[kRecordHeaderBytes + kDataChunkBytes];

bool sameId(const unsigned char* bytes, const char* id) {
    return std::memcmp(bytes, id, 4) == 0;
}

uint32_t receiveLe32(AdbConnection* conn) {
    unsigned char bytes[4];
    adbReceiveAll(conn, bytes, 4);
    return readLe32(bytes);
}

// Reads the text of a FAIL record whose length is `length`: its first 255 bytes are
// kept, the rest is read and dropped. Raises ERR_ADB_ERROR with the text made safe
// for the console.
[[noreturn]] void raiseFailText(AdbConnection* conn, uint32_t length) {
    char text[kStatusTextBytes];
    uint32_t kept = length < kStatusTextBytes - 1 ? length : kStatusTextBytes - 1;
    adbReceiveAll(conn, text, kept);
    text[kept] = 0;
    adbDiscard(conn, length - kept);
    sanitiseServerText(text);
    raiseErrorText(ERR_ADB_ERROR, text);
}

// Reads exactly `count` bytes of the host file; false when it fails or ends early
// (the file shrank since it was read).
bool readWhole(OsFile file, unsigned char* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        int64_t got = osReadFile(file, buffer + done, count - done);
        if (got <= 0) return false;
        done += static_cast<uint32_t>(got);
    }
    return true;
}

}  // namespace

void readSendStatus(AdbConnection* conn, bool wait) {
    if (!wait && adbBytesAvailable(conn) == 0) return;
    unsigned char id[4];
    adbReceiveAll(conn, id, 4);
    if (sameId(id, "FAIL")) raiseFailText(conn, receiveLe32(conn));
    if (!sameId(id, "OKAY")) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    // OKAY carries no text in practice; whatever it carries is read and dropped.
    adbDiscard(conn, receiveLe32(conn));
}

bool sendFileRecords(AdbConnection* conn, const char* remotePath, OsFile file, uint64_t length,
                     uint32_t seconds) {
    char payload[kSyncPayloadBytes];
    uint32_t pathBytes = static_cast<uint32_t>(std::strlen(remotePath));
    if (pathBytes > kMaxSendPathBytes) raiseError(ERR_ADB_SEND);
    std::memcpy(payload, remotePath, pathBytes);
    payload[pathBytes] = ',';
    std::to_chars_result mode = std::to_chars(payload + pathBytes + 1, payload + sizeof payload,
                                              kPushMode);
    sendSyncRequest(conn, "SEND", payload, static_cast<uint32_t>(mode.ptr - payload));

    uint64_t remaining = length;
    while (remaining > 0) {
        readSendStatus(conn, false);
        uint32_t count = remaining < kDataChunkBytes ? static_cast<uint32_t>(remaining)
                                                     : kDataChunkBytes;
        if (!readWhole(file, sendBuffer + kRecordHeaderBytes, count)) return false;
        std::memcpy(sendBuffer, "DATA", 4);
        writeLe32(sendBuffer + 4, count);
        adbSendAll(conn, sendBuffer, kRecordHeaderBytes + count);
        remaining -= count;
    }

    unsigned char done[kRecordHeaderBytes];
    std::memcpy(done, "DONE", 4);
    writeLe32(done + 4, seconds);
    adbSendAll(conn, done, sizeof done);
    return true;
}

void sendRecvRequest(AdbConnection* conn, const char* remotePath) {
    sendSyncRequest(conn, "RECV", remotePath, static_cast<uint32_t>(std::strlen(remotePath)));
}

bool readRecvRecord(AdbConnection* conn, uint32_t* dataLength) {
    unsigned char id[4];
    adbReceiveAll(conn, id, 4);
    bool known = sameId(id, "DATA") || sameId(id, "DONE") || sameId(id, "FAIL");
    if (!known) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    uint32_t length = receiveLe32(conn);
    if (sameId(id, "FAIL")) raiseFailText(conn, length);
    if (sameId(id, "DONE")) {
        adbDiscard(conn, length);
        return false;
    }
    *dataLength = length;
    return true;
}
