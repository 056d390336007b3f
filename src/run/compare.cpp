// Tree comparison: pairs the children of a host and a device directory by name,
// classifies and counts them, descends where the options allow, and skips
// directories that hold the marker file.
#include "run/compare.h"

#include <cstring>

#include "support/encodings.h"
#include "adb/syncqueries.h"
#include "run/context.h"
#include "hostfs/hostfs.h"

namespace {

constexpr uint64_t kOneHour = 3600;

// Whole 64-bit seconds, so that times after 2106 still compare in order.
uint64_t unixSeconds(uint64_t fileTime, uint32_t rounding) {
    uint64_t seconds = 0;
    fileTimeToUnix64(fileTime, &seconds, rounding);
    return seconds;
}

void classifyOneSided(SyncContext* context, FileNode* host, FileNode* device) {
    FileNode* node = host != nullptr ? host : device;
    bool onHost = host != nullptr;
    if (isDirectory(node)) {
        setStatus(context, host, device, onHost ? HostDirOnly : AndroidDirOnly);
        uint32_t createDirs = onHost ? kCopyDirsAndroid : kCopyDirsHost;
        if (context->recurse != 0 && (context->copyFlags & createDirs) != 0)
            compareTrees(context, host, device);
    } else if (isIgnored(context->ignoreList, context->onlyList, node->name)) {
        setStatus(context, host, device, onHost ? HostFileIgnored : AndroidFileIgnored);
    } else {
        setStatus(context, host, device, onHost ? HostFileOnly : AndroidFileOnly);
    }
}

void classifyPair(SyncContext* context, FileNode* host, FileNode* device) {
    bool hostDir = isDirectory(host);
    bool deviceDir = isDirectory(device);
    if (hostDir && deviceDir) {
        setStatus(context, host, device, DirsMatch);
        if (context->recurse != 0) compareTrees(context, host, device);
    } else if (hostDir) {
        setStatus(context, host, device, HostDirConflict);
    } else if (deviceDir) {
        setStatus(context, host, device, AndroidDirConflict);
    } else {
        classifyFilePair(context, host, device);
    }
}

} // namespace

void setStatus(SyncContext* context, FileNode* host, FileNode* device, int status) {
    if (host == nullptr && device == nullptr) return;
    if (status <= Unknown || status >= kStatusCount) return;
    context->statusCounts[status] += 1;
    if (host != nullptr) host->status = status;
    if (device != nullptr) device->status = status;
    if (host != nullptr && device != nullptr) {
        host->partner = device;
        device->partner = host;
    }
}

void compareTrees(SyncContext* context, FileNode* host, FileNode* device) {
    // The device is not asked when the host side already has the marker.
    // A host directory that cannot be read is left out like one with the marker:
    // nothing is pulled into it and nothing of it is pushed.
    if ((host != nullptr && hostHasMarker(context, host)) ||
        (device != nullptr && deviceHasMarker(&context->conn, context->androidRoot, device)) ||
        (host != nullptr &&
         !readHostDirectory(&context->heap, context->hostRoot, host, &context->hostWalk))) {
        setStatus(context, host, nullptr, HostDirIgnored);
        setStatus(context, nullptr, device, AndroidDirIgnored);
        return;
    }
    if (device != nullptr) syncList(&context->conn, &context->heap, context->androidRoot, device);
    classifyChildren(context, host, device);
}

void classifyChildren(SyncContext* context, FileNode* host, FileNode* device) {
    FileNode* p = host != nullptr ? host->firstChild : nullptr;
    FileNode* q = device != nullptr ? device->firstChild : nullptr;
    // The merge walks both sorted child lists once; n numbers the merged positions.
    for (int32_t n = 0; p != nullptr || q != nullptr; ++n) {
        int side;
        if (q == nullptr) side = -1;
        else if (p == nullptr) side = 1;
        else side = compareNames(p->name, q->name);

        if (side < 0) {
            p->order = n;
            classifyOneSided(context, p, nullptr);
            p = p->nextSibling;
        } else if (side > 0) {
            q->order = n;
            classifyOneSided(context, nullptr, q);
            q = q->nextSibling;
        } else {
            p->order = n;
            q->order = n;
            classifyPair(context, p, q);
            p = p->nextSibling;
            q = q->nextSibling;
        }
    }
}

void classifyFilePair(SyncContext* context, FileNode* host, FileNode* device) {
    if (isIgnored(context->ignoreList, context->onlyList, host->name) || isIgnored(context->ignoreList, context->onlyList, device->name)) {
        setStatus(context, host, nullptr, HostFileIgnored);
        setStatus(context, nullptr, device, AndroidFileIgnored);
        return;
    }
    int order = compareTimes(host->mtime, device->mtime, context->timeRounding,
                             context->oneHourSame != 0);
    int status = order > 0 ? HostFileNewer : order < 0 ? AndroidFileNewer : FilesMatch;
    setStatus(context, host, device, status);
}

int compareTimes(uint64_t hostTime, uint64_t deviceTime, uint32_t rounding, bool oneHourSame) {
    uint64_t hostSeconds = unixSeconds(hostTime, rounding);
    uint64_t deviceSeconds = unixSeconds(deviceTime, rounding);
    uint64_t distance =
        hostSeconds > deviceSeconds ? hostSeconds - deviceSeconds : deviceSeconds - hostSeconds;
    if (oneHourSame && distance == kOneHour) return 0;
    if (hostSeconds == deviceSeconds) return 0;
    return hostSeconds < deviceSeconds ? -1 : 1;
}

bool hostHasMarker(SyncContext* context, FileNode* directory) {
    if (directory == nullptr) return false;
    MarkerNode marker;
    initMarkerNode(&marker, directory);
    return statHostNode(context->hostRoot, &marker.node);
}
