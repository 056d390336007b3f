// Opening the sync connection again after the device ended it or it dropped, each
// attempt bounded by the connection's own waits, the whole wait by a deadline; and
// the spare connection that -k holds ready for the next device FAIL.
#include "adb/reconnect.h"

#include <cstring>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "support/errors.h"

namespace {

// The monotonic counter's reading `ms` milliseconds from now.
uint64_t counterAfter(uint32_t ms) {
    return osPerfCounter() + osPerfFrequency() / 1000 * ms;
}

// Host requests that a server answers with FAIL, or a connection that dies on the
// way, raise; here they only mean that the device is not back.
bool attemptRequests(AdbConnection* conn, bool queryFeatureList) {
    try {
        if (queryFeatureList) {
            // Its FAIL (no such device) leaves the transport request to say so too.
            uint32_t features = conn->features;
            queryFeatures(conn);
            conn->features = features;
            adbRelease(conn);
            if (!adbConnect(conn)) return false;
        }
        selectTransport(conn);
        sendHostRequest(conn, "sync:");
        readHostStatus(conn);
        return true;
    } catch (const SyncError&) {
        return false;
    }
}

// The spare's next step once the status of its last request is there: a refusal, a
// close or any other answer ends it.
void spareStep(SpareConnection* spare) {
    try {
        readHostStatus(&spare->conn);
        if (spare->step == SpareStep::Transport) {
            sendHostRequest(&spare->conn, "sync:");
            spare->step = SpareStep::Sync;
        } else {
            spare->step = SpareStep::Ready;
        }
    } catch (const SyncError&) {
        spareClose(spare);
    }
}

}  // namespace

CopyFault copyFaultOf(uint32_t code) {
    if (code == ERR_ADB_ERROR) return CopyFault::DeviceFail;
    if (code == ERR_ADB_SEND || code == ERR_ADB_NO_RESPONSE) return CopyFault::Dropped;
    return CopyFault::None;
}

ReopenResult adbReopen(AdbConnection* conn, bool queryFeatureList) {
    adbRelease(conn);
    if (!adbConnect(conn)) return ReopenResult::NoServer;
    if (attemptRequests(conn, queryFeatureList)) return ReopenResult::Ready;
    adbRelease(conn);
    return ReopenResult::NoDevice;
}

ReopenResult adbReopenWithin(AdbConnection* conn, uint32_t waitMs) {
    uint64_t deadline = counterAfter(waitMs);
    ReopenResult result = adbReopen(conn, true);
    if (result == ReopenResult::Ready) return result;
    while (counterAfter(kReopenPauseMs) < deadline) {
        osSleep(kReopenPauseMs);
        result = adbReopen(conn, true);
        if (result == ReopenResult::Ready) return result;
    }
    return result;
}

void spareOpen(SpareConnection* spare, const AdbConnection* model) {
    spareClose(spare);
    AdbConnection* conn = &spare->conn;
    conn->localOnly = model->localOnly;
    std::memcpy(conn->serial, model->serial, sizeof conn->serial);
    conn->features = model->features;
    if (!adbConnect(conn)) {
        adbRelease(conn);
        return;
    }
    try {
        sendTransportRequest(conn);
        spare->step = SpareStep::Transport;
    } catch (const SyncError&) {
        adbRelease(conn);
    }
}

void spareAdvance(SpareConnection* spare) {
    bool asking = spare->step == SpareStep::Transport || spare->step == SpareStep::Sync;
    if (asking && adbBytesAvailable(&spare->conn) >= kStatusBytes) spareStep(spare);
}

bool spareTake(SpareConnection* spare, AdbConnection* conn) {
    while (spare->step == SpareStep::Transport || spare->step == SpareStep::Sync) spareStep(spare);
    if (spare->step != SpareStep::Ready) return false;
    // Nothing may have come on a connection that asked nothing: a byte or a close
    // means the server or the device dropped it.
    unsigned char byte;
    if (adbBytesAvailable(&spare->conn) > 0 || osNetReceive(&spare->conn.net, &byte, 1, 0) >= 0) {
        spareClose(spare);
        return false;
    }
    adbRelease(conn);
    *conn = spare->conn;
    spare->conn.net = OsNetState{};
    spare->step = SpareStep::Closed;
    return true;
}

void spareClose(SpareConnection* spare) {
    adbRelease(&spare->conn);
    spare->step = SpareStep::Closed;
}
