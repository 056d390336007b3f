// The one TCP connection to the local ADB server: connect with a time limit, move
// exact byte counts (each wait bounded), count pending bytes, release. Receives go
// through a buffer, so a listing of small records costs a few reads, not two per entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr uint16_t kAdbPort = 5037;
constexpr uint32_t kAdbTimeoutMs = 15000;  // every network wait
constexpr uint32_t kDiscardBytes = 4096;   // unwanted reply bytes are read in pieces of this
constexpr size_t kSerialSize = 256;        // /d value, terminator included
constexpr uint32_t kInboxBytes = 65536;    // received bytes not yet taken

// Sync record versions the device offers (its feature list); 0 means the v1 records.
constexpr uint32_t kFeatureStatV2 = 0x01;  // "stat_v2": STA2 and LST2
constexpr uint32_t kFeatureListV2 = 0x02;  // "ls_v2": LIS2 with DNT2 records

struct AdbConnection {
    uint32_t localOnly;        // /e: select the transport with host:transport-local
    char serial[kSerialSize];  // /d: device serial, empty when not given
    uint32_t features;         // kFeature* bits the device offers
    OsNetState net;            // socket and, on Windows, the two events and I/O record
    uint32_t inboxStart;       // inbox[inboxStart, inboxEnd) came in and was not taken
    uint32_t inboxEnd;
    unsigned char inbox[kInboxBytes];
};

// The limit of every network wait, kAdbTimeoutMs unless a test build set a shorter
// one, so that its tests of other things do not wait out the real limit.
void adbSetWaitLimit(uint32_t milliseconds);

bool adbConnect(AdbConnection* conn);                                    // never raises
void adbSendAll(AdbConnection* conn, const void* data, uint32_t count);  // raises ERR_ADB_SEND
// Sends all bytes with replies in flight: whenever the link has no room and a reply
// waits, `readReply(state)` takes one, so neither side waits on the other for good.
// False as soon as readReply returns false. A failed send raises ERR_ADB_SEND, after
// the replies that already arrived were read (a FAIL among them says more).
bool adbSendReading(AdbConnection* conn, const void* data, uint32_t count,
                    bool (*readReply)(void* state), void* state);
void adbReceiveAll(AdbConnection* conn, void* buffer,
                   uint32_t count);  // raises ERR_ADB_NO_RESPONSE
// Reads and drops `count` announced bytes, so nothing of a record stays in the stream.
void adbDiscard(AdbConnection* conn, uint32_t count);  // raises like adbReceiveAll
// Bytes that came in and were not taken yet, in the buffer or in the socket.
uint32_t adbBytesAvailable(AdbConnection* conn);
// Waits (one bounded wait) for the peer to close: false when a byte comes first.
// Never raises.
bool adbAwaitClose(AdbConnection* conn);
void adbRelease(AdbConnection* conn);
