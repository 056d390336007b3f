// Opening the sync connection again, for a run that goes on after the device ended
// the sync service (it does so after every FAIL) or after the connection dropped:
// a fresh connection, the transport and sync: (after a drop, the feature query on a
// connection of its own first), waiting a bounded time for a device that is gone.
// Or, after a FAIL, taking the spare connection held ready in sync mode instead.
// Nothing here raises: a refusal or a dead connection is "not back yet".
#pragma once

#include <cstdint>

#include "adb/connection.h"

constexpr uint32_t kReopenWaitMs = 30000;  // how long a dropped device is waited for
constexpr uint32_t kReopenPauseMs = 500;   // between two attempts while waiting

enum class ReopenResult {
    Ready,     // in sync mode again
    NoServer,  // nothing accepted the connection
    NoDevice,  // the server refused the feature query, the transport or sync:
};

// The reason a copy failed, when a raise during it says so: the device's FAIL text
// (ERR_ADB_ERROR) or the connection's fault (ERR_ADB_SEND, ERR_ADB_NO_RESPONSE).
enum class CopyFault {
    None,        // any other code: the run ends with it
    DeviceFail,  // the device refused the file; raisedText() holds its words
    Dropped,     // the connection failed or was closed
};
CopyFault copyFaultOf(uint32_t code);

// One attempt: releases the old connection and opens the new one. The features the
// device offered at the start stay those of the run.
ReopenResult adbReopen(AdbConnection* conn, bool queryFeatures);

// Attempts until one succeeds or `waitMs` have passed, a pause between attempts.
// Returns the last attempt's result.
ReopenResult adbReopenWithin(AdbConnection* conn, uint32_t waitMs);

// -k: a second connection opened ahead and held in sync mode, so that after a device
// FAIL the run goes on at once instead of waiting for the replies to a new
// connection's requests. Its requests go one at a time (a server may drop a request
// sent before the previous one's OKAY); each status is read once it has arrived.
enum class SpareStep {
    Closed,
    Transport,  // the transport request went out
    Sync,       // sync: went out
    Ready,      // in sync mode, nothing asked
};

struct SpareConnection {
    AdbConnection conn;
    SpareStep step;
};

// Connects and sends the transport request that `model` would send; the features
// stay `model`'s. A server that does not answer leaves it closed. Never raises.
void spareOpen(SpareConnection* spare, const AdbConnection* model);
// Reads a status that has arrived and sends the next request, without waiting.
// A refusal or a dead connection closes the spare. Never raises.
void spareAdvance(SpareConnection* spare);
// Finishes the spare's requests (each wait bounded) and, when it is in sync mode and
// still open, releases `conn` and makes the spare `conn`; the spare is then closed.
// False, `conn` untouched, when the spare failed or there was none. Never raises.
bool spareTake(SpareConnection* spare, AdbConnection* conn);
void spareClose(SpareConnection* spare);
