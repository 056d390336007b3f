// File transfer records over the sync connection: SEND, DATA and DONE for a push, the
// SEND status, and the records of a RECV reply.
#include "adb/transfers.h"

#include <charconv>
#include <cstring>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "support/errors.h"

namespace {

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

}  // namespace

void readSendStatus(AdbConnection* conn) {
    unsigned char id[4];
    adbReceiveAll(conn, id, 4);
    if (sameId(id, "FAIL")) raiseFailText(conn, receiveLe32(conn));
    if (!sameId(id, "OKAY")) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    // OKAY carries no text in practice; whatever it carries is read and dropped.
    adbDiscard(conn, receiveLe32(conn));
}

uint32_t putSendRequest(unsigned char* out, const char* remotePath) {
    char payload[kSyncPayloadBytes];
    uint32_t pathBytes = static_cast<uint32_t>(std::strlen(remotePath));
    if (pathBytes > kMaxSendPathBytes) raiseError(ERR_ADB_SEND);
    std::memcpy(payload, remotePath, pathBytes);
    payload[pathBytes] = ',';
    std::to_chars_result mode =
        std::to_chars(payload + pathBytes + 1, payload + sizeof payload, kPushMode);
    return putSyncRequest(out, "SEND", payload, static_cast<uint32_t>(mode.ptr - payload));
}

void putRecordHeader(unsigned char* out, const char* id, uint32_t value) {
    std::memcpy(out, id, 4);
    writeLe32(out + 4, value);
}

uint32_t putRecvRequest(unsigned char* out, const char* remotePath) {
    return putSyncRequest(out, "RECV", remotePath, static_cast<uint32_t>(std::strlen(remotePath)));
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
