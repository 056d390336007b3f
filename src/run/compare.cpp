// Tree comparison: pairs the children of a host and a device directory by name,
// classifies and counts them, descends where the options allow, and skips
// directories that hold the marker file or match a folder pattern. The device
// directories the walk will enter are asked for ahead of it (run/lookahead.h); the
// walk, its order and its output stay those of one request at a time.
#include "run/compare.h"

#include <vector>

#include "adb/syncqueries.h"
#include "hostfs/hostfs.h"
#include "run/context.h"
#include "run/lookahead.h"
#include "support/encodings.h"
#include "support/errors.h"

namespace {

// A folder pattern of /i leaves a directory out like the marker, and neither side is
// asked about it.
bool leftOutByPattern(SyncContext* context, FileNode* host, FileNode* device) {
    return isIgnored(context->ignoreList, nullptr, host) ||
           isIgnored(context->ignoreList, nullptr, device);
}

// Once a pair is read: the device subdirectories that the merge will enter, in its
// order, go to the front of the look-ahead's queue, so requests go out in the walk's
// order.
void askAheadOfMerge(SyncContext* context, FileNode* host, FileNode* device) {
    if (context->recurse == 0 || device == nullptr) return;
    std::vector<AheadEntry> next;
    FileNode* p = host != nullptr ? host->firstChild : nullptr;
    for (FileNode* q = device->firstChild; q != nullptr;) {
        int side = p == nullptr ? 1 : compareNames(p->name, q->name);
        if (side < 0) {
            p = p->nextSibling;
            continue;
        }
        if (side > 0 && isDirectory(q) && (context->copyFlags & kCopyDirsHost) != 0 &&
            !leftOutByPattern(context, nullptr, q))
            next.push_back(AheadEntry{q, false});
        // The device is not asked when the host side has the marker.
        if (side == 0 && isDirectory(p) && isDirectory(q) && !leftOutByPattern(context, p, q) &&
            !hostHasMarker(context, p))
            next.push_back(AheadEntry{q, true});
        if (side == 0) p = p->nextSibling;
        q = q->nextSibling;
    }
    askAhead(context->lookahead, next);
}

// One directory pair of the walk, with the requests in flight of `context->lookahead`.
void compareLevel(SyncContext* context, FileNode* host, FileNode* device) {
    DeviceLookahead* ahead = context->lookahead;
    // The device is not asked when the host side already has the marker (looked up
    // once: when the pair was asked for ahead, that answer holds).
    bool hostClear = device != nullptr && lookaheadKnowsHostClear(ahead, device);
    bool marker = leftOutByPattern(context, host, device);
    if (!marker) marker = host != nullptr && !hostClear && hostHasMarker(context, host);
    if (!marker && device != nullptr) {
        marker = awaitDeviceMarker(ahead, device);
        if (marker) abandonDeviceListing(ahead, device);
    }
    if (marker) {
        setStatus(context, host, nullptr, HostDirIgnored);
        setStatus(context, nullptr, device, AndroidDirIgnored);
        return;
    }
    // A host directory that cannot be read is left out like one with the marker:
    // nothing is pulled into it and nothing of it is pushed. A device listing already
    // asked for is read and dropped.
    if (host != nullptr &&
        !readHostDirectory(&context->heap, context->hostRoot, host, &context->hostWalk)) {
        if (device != nullptr) abandonDeviceListing(ahead, device);
        setStatus(context, host, nullptr, HostDirIgnored);
        setStatus(context, nullptr, device, AndroidDirIgnored);
        return;
    }
    if (device != nullptr) takeDeviceListing(ahead, device);
    askAheadOfMerge(context, host, device);
    classifyChildren(context, host, device);
}

// The look-ahead lives as long as one walk; a raise leaves no pointer to it behind.
struct WalkScope {
    SyncContext* context;
    ~WalkScope() { context->lookahead = nullptr; }
};

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
    } else if (isIgnored(context->ignoreList, context->onlyList, node)) {
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

}  // namespace

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
    if (context->lookahead != nullptr) {
        compareLevel(context, host, device);
        return;
    }
    DeviceLookahead ahead;
    beginLookahead(&ahead, context);
    WalkScope scope{context};
    compareLevel(context, host, device);
    endLookahead(&ahead);
}

void compareRoots(SyncContext* context) {
    FileNode* device = &context->androidTop;
    DeviceLookahead ahead;
    beginLookahead(&ahead, context);
    WalkScope scope{context};
    bool exists = statDeviceRoot(&ahead, device, !hostHasMarker(context, &context->hostTop));
    char shown[kNarrowPathBytes];
    devicePathNarrow(context->androidRoot, device, shown);
    checkRoot(exists, device, shown);
    compareLevel(context, &context->hostTop, device);
    endLookahead(&ahead);
}

void checkRoot(bool exists, const FileNode* top, const char* shown) {
    if (exists && isDirectory(top)) return;
    raiseErrorText(exists ? ERR_ROOT_NOT_DIRECTORY : ERR_ROOT_MISSING, shown);
}

void classifyChildren(SyncContext* context, FileNode* host, FileNode* device) {
    FileNode* p = host != nullptr ? host->firstChild : nullptr;
    FileNode* q = device != nullptr ? device->firstChild : nullptr;
    // The merge walks both sorted child lists once; n numbers the merged positions.
    for (int32_t n = 0; p != nullptr || q != nullptr; ++n) {
        int side;
        if (q == nullptr)
            side = -1;
        else if (p == nullptr)
            side = 1;
        else
            side = compareNames(p->name, q->name);

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
    if (isIgnored(context->ignoreList, context->onlyList, host) ||
        isIgnored(context->ignoreList, context->onlyList, device)) {
        setStatus(context, host, nullptr, HostFileIgnored);
        setStatus(context, nullptr, device, AndroidFileIgnored);
        return;
    }
    int order =
        compareTimes(host->mtime, device->mtime, context->timeRounding, context->oneHourSame != 0);
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
