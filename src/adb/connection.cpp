// The one TCP connection to the local ADB server: connect, exact sends and receives
// (each wait bounded by the OS layer), pending-byte count, release.
#include "adb/connection.h"

#include "support/errors.h"

bool adbConnect(AdbConnection* conn) {
    return osNetConnect(&conn->net, kAdbPort, kAdbTimeoutMs);
}

void adbSendAll(AdbConnection* conn, const void* data, uint32_t count) {
    if (!osNetSendAll(&conn->net, data, count, kAdbTimeoutMs)) raiseError(ERR_ADB_SEND);
}

void adbReceiveAll(AdbConnection* conn, void* buffer, uint32_t count) {
    unsigned char* next = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        // The limit holds per read, so a peer that trickles bytes keeps the receive alive.
        int64_t got = osNetReceive(&conn->net, next, count, kAdbTimeoutMs);
        if (got <= 0) raiseError(ERR_ADB_NO_RESPONSE);   // failure, time-out or closed
        next += got;
        count -= static_cast<uint32_t>(got);
    }
}

uint32_t adbBytesAvailable(AdbConnection* conn) {
    return osNetAvailable(&conn->net);
}

void adbRelease(AdbConnection* conn) {
    osNetClose(&conn->net);
}

void adbDiscard(AdbConnection* conn, uint32_t count) {
    unsigned char scratch[kDiscardBytes];
    while (count > 0) {
        uint32_t piece = count < kDiscardBytes ? count : kDiscardBytes;
        adbReceiveAll(conn, scratch, piece);
        count -= piece;
    }
}
