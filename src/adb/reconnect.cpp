// Opening the sync connection again after the device ended it or it dropped, each
// attempt bounded by the connection's own waits, the whole wait by a deadline.
#include "adb/reconnect.h"

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
