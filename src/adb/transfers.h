// File transfer records over the sync connection: SEND with its DATA records and its
// DONE time, the SEND status, and the RECV reply read record by record.
// Raise: all four, on a connection fault, a FAIL reply or an unknown id, as each says.
#pragma once

#include <cstdint>

#include "adb/syncqueries.h"
#include "platform/platform.h"

struct AdbConnection;

constexpr unsigned kDataChunkBytes = 65536;  // file data per DATA record
constexpr unsigned kStatusTextBytes = 256;   // SEND status and RECV FAIL texts
constexpr unsigned kPushMode = 33279;        // regular file, permissions 0777
constexpr uint32_t kModeSuffixBytes = 6;     // ",33279"
// The longest device path SEND takes: a request is never cut.
constexpr uint32_t kMaxSendPathBytes = kSyncPayloadBytes - kModeSuffixBytes;

// Reads a SEND status, waiting for it. Raises ERR_ADB_ERROR with the FAIL text,
// ERR_ADB_UNKNOWN_RESPONSE for another id.
void readSendStatus(AdbConnection* conn);
// Writes the SEND request for `remotePath` (at most kMaxSendPathBytes) to `out`, room
// for kSyncRequestBytes; returns its size.
uint32_t putSendRequest(unsigned char* out, const char* remotePath);
// Writes a record header (DATA with its length, DONE with the time) to `out`.
void putRecordHeader(unsigned char* out, const char* id, uint32_t value);
// Writes the RECV request for `remotePath` to `out`; returns its size.
uint32_t putRecvRequest(unsigned char* out, const char* remotePath);
// Reads the next record header of a RECV reply: true with the length of a DATA record
// (its bytes follow on the connection), false at DONE. Raises ERR_ADB_ERROR with a
// FAIL text, ERR_ADB_UNKNOWN_RESPONSE for another id.
bool readRecvRecord(AdbConnection* conn, uint32_t* dataLength);
