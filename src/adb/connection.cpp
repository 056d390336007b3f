// The one TCP connection to the local ADB server: connect, exact sends and receives
// (each wait bounded by the OS layer), pending-byte count, release.
#include "adb/connection.h"

#include <cstring>

#include "support/errors.h"

namespace {
uint32_t waitLimitMs = kAdbTimeoutMs;
}  // namespace

void adbSetWaitLimit(uint32_t milliseconds) {
    waitLimitMs = milliseconds;
}

bool adbConnect(AdbConnection* conn) {
    conn->inboxStart = 0;
    conn->inboxEnd = 0;
    return osNetConnect(&conn->net, kAdbPort, waitLimitMs);
}

void adbSendAll(AdbConnection* conn, const void* data, uint32_t count) {
    if (!osNetSendAll(&conn->net, data, count, waitLimitMs)) raiseError(ERR_ADB_SEND);
}

bool adbSendReading(AdbConnection* conn, const void* data, uint32_t count,
                    bool (*readReply)(void* state), void* state) {
    const unsigned char* next = static_cast<const unsigned char*>(data);
    while (count > 0) {
        // All of it, or what fitted before replies came in (-1: failed or timed out).
        int64_t sent = osNetSendUntilReadable(&conn->net, next, count, waitLimitMs);
        if (sent < 0) {
            while (adbBytesAvailable(conn) > 0)
                if (!readReply(state)) return false;
            raiseError(ERR_ADB_SEND);
        }
        next += sent;
        count -= static_cast<uint32_t>(sent);
        if (count > 0 && !readReply(state)) return false;
    }
    return true;
}

void adbReceiveAll(AdbConnection* conn, void* buffer, uint32_t count) {
    unsigned char* next = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        uint32_t held = conn->inboxEnd - conn->inboxStart;
        if (held > 0) {
            uint32_t piece = held < count ? held : count;
            std::memcpy(next, conn->inbox + conn->inboxStart, piece);
            conn->inboxStart += piece;
            next += piece;
            count -= piece;
            continue;
        }
        // A large read goes straight to the caller; a small one fills the buffer with
        // whatever has come. The limit holds per read, so a peer that trickles bytes
        // keeps the receive alive.
        bool direct = count >= kInboxBytes;
        unsigned char* into = direct ? next : conn->inbox;
        int64_t got = osNetReceive(&conn->net, into, direct ? count : kInboxBytes, waitLimitMs);
        if (got <= 0) raiseError(ERR_ADB_NO_RESPONSE);  // failure, time-out or closed
        if (direct) {
            next += got;
            count -= static_cast<uint32_t>(got);
        } else {
            conn->inboxStart = 0;
            conn->inboxEnd = static_cast<uint32_t>(got);
        }
    }
}

uint32_t adbBytesAvailable(AdbConnection* conn) {
    return conn->inboxEnd - conn->inboxStart + osNetAvailable(&conn->net);
}

// A wait that ends without a byte (time-out, failure) counts as a close: nothing more
// came that could have been taken for an answer.
bool adbAwaitClose(AdbConnection* conn) {
    if (conn->inboxEnd != conn->inboxStart) return false;
    unsigned char byte;
    return osNetReceive(&conn->net, &byte, 1, waitLimitMs) <= 0;
}

void adbRelease(AdbConnection* conn) {
    conn->inboxStart = 0;
    conn->inboxEnd = 0;
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
