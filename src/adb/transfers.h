// File transfer records over the sync connection: SEND with its DATA records and its
// DONE time, the SEND status, and the RECV reply read record by record.
// Raise: all four, on a connection fault, a FAIL reply or an unknown id, as each says.
#pragma once

#include <cstdint>

#include "adb/syncqueries.h"
#include "platform/platform.h"

struct AdbConnection;

constexpr unsigned kDataChunkBytes = 65536;   // file data per DATA record
constexpr unsigned kStatusTextBytes = 256;    // SEND status and RECV FAIL texts
constexpr unsigned kPushMode = 33279;         // regular file, permissions 0777
constexpr uint32_t kModeSuffixBytes = 6;     // ",33279"
// The longest device path SEND takes: a request is never cut.
constexpr uint32_t kMaxSendPathBytes = kSyncPayloadBytes - kModeSuffixBytes;

// Reads a SEND status: at once when one is waiting (the device may refuse a file
// before all DATA is sent), or, with `wait`, the final one. Raises ERR_ADB_ERROR
// with the FAIL text, ERR_ADB_UNKNOWN_RESPONSE for another id.
void readSendStatus(AdbConnection* conn, bool wait);
// Sends SEND for `remotePath` (at most kMaxSendPathBytes), then `length` bytes of
// `file` in DATA records and DONE with `seconds`. False, without DONE, when the
// host file cannot be read or ends early. Raises on a device or connection fault.
bool sendFileRecords(AdbConnection* conn, const char* remotePath, OsFile file, uint64_t length,
                     uint32_t seconds);
// Sends RECV for `remotePath`.
void sendRecvRequest(AdbConnection* conn, const char* remotePath);
// Reads the next record header of a RECV reply: true with the length of a DATA record
// (its bytes follow on the connection), false at DONE. Raises ERR_ADB_ERROR with a
// FAIL text, ERR_ADB_UNKNOWN_RESPONSE for another id.
bool readRecvRecord(AdbConnection* conn, uint32_t* dataLength);
