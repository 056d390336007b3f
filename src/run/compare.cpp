// Tree comparison: pairs the children of a host and a device directory by name,
// classifies and counts them, descends where the options allow, and skips
// directories that hold the marker file.
//
// The device directories that the walk will enter are asked for ahead of it: once a
// directory pair is read, the marker STAT and the LIST of each device subdirectory to
// be entered go out together, within a window, so a level costs one round trip. The
// listing of a directory that turns out to hold the marker is read and dropped.
// Replies come in request order and are kept in the nodes (children) and in a record
// per directory (marker, lines about skipped entries) until the walk gets there, so
// the walk, its order and its output stay those of one request at a time. With a
// window of one, the LIST waits for its STAT as before the window existed. The run's
// walk starts with the device root's STAT, and the root's own marker STAT and LIST
// follow it at once.
#include "run/compare.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "adb/connection.h"
#include "adb/hostservices.h"
#include "adb/syncqueries.h"
#include "hostfs/hostfs.h"
#include "run/context.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "support/hostnames.h"

// Device directories whose requests go out ahead of the walk.
enum class AheadState { Waiting, StatOut, ListNeeded, ListOut, Done };

struct AheadDir {
    AheadState state = AheadState::Waiting;
    bool marker = false;      // the STAT found the marker: the listing is not used
    bool listAsked = false;   // the LIST went out with the STAT
    bool drop = false;        // the walk left without the listing: drop it when it comes
    bool hostClear = false;   // the host side was found without the marker when asked
    std::string markerNotes;  // lines about the marker STAT, said when the walk arrives
    std::string notes;        // lines about the listing and its skipped entries, likewise
    bool idKnown = false;     // the listing was read: `id` is its directory's identity
    DeviceDirId id{};
};

enum class AheadAsk { Root, Marker, List };  // the root's STAT, a marker STAT, a LIST

struct AheadRequest {
    FileNode* directory;
    AheadAsk ask;
};

struct DeviceAhead {
    SyncContext* context;
    uint32_t limit;  // directories with requests in flight
    uint32_t inFlight;
    std::unordered_map<FileNode*, AheadDir> dirs;
    std::deque<FileNode*> waiting;   // to ask, the walk's next first
    std::deque<FileNode*> listNext;  // STAT read without a marker, LIST to send
    std::deque<AheadRequest> sent;   // as their replies will come
    bool draining;                   // the walk ended: listings still coming are dropped
    bool rootRead;                   // the device root's STAT was answered
    bool rootExists;
};

namespace {

// 64 directories in flight: a level of up to 64 directories costs about two round
// trips (STAT, then LIST) instead of two per directory.
constexpr uint32_t kAheadDirs = 64;

// Reads the reply to the oldest request in flight into its directory's record.
bool readAheadReply(void* state) {
    DeviceAhead* ahead = static_cast<DeviceAhead*>(state);
    SyncContext* context = ahead->context;
    if (ahead->sent.empty()) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    AheadRequest request = ahead->sent.front();
    ahead->sent.pop_front();
    if (request.ask == AheadAsk::Root) {
        ahead->rootExists = readStatAnswer(&context->conn, context->androidRoot, request.directory);
        ahead->rootRead = true;
        return true;
    }
    AheadDir* dir = &ahead->dirs[request.directory];
    if (request.ask == AheadAsk::List) {
        ahead->inFlight -= 1;
        if (dir->marker || dir->drop || ahead->draining) {
            discardListReply(&context->conn);
            if (dir->drop)
                ahead->dirs.erase(request.directory);
            else
                dir->state = AheadState::Done;
            return true;
        }
        readListReply(&context->conn, &context->heap, context->androidRoot, request.directory,
                      &dir->notes, &dir->id);
        dir->idKnown = true;
        dir->state = AheadState::Done;
        return true;
    }
    MarkerNode marker;
    initMarkerNode(&marker, request.directory);
    dir->marker =
        readStatAnswer(&context->conn, context->androidRoot, &marker.node, &dir->markerNotes);
    if (dir->listAsked) {
        dir->state = AheadState::ListOut;
    } else if (dir->marker) {
        dir->state = AheadState::Done;
        ahead->inFlight -= 1;
    } else {
        dir->state = AheadState::ListNeeded;
        ahead->listNext.push_back(request.directory);
    }
    return true;
}

// Sends what may go: every LIST whose STAT came back, then marker STATs while the
// window has room, each with its LIST behind it in the same write when the window
// holds more than one directory.
void sendAhead(DeviceAhead* ahead) {
    SyncContext* context = ahead->context;
    unsigned char request[2 * kSyncRequestBytes];
    for (;;) {
        FileNode* directory;
        bool list = !ahead->listNext.empty();
        if (list) {
            directory = ahead->listNext.front();
            ahead->listNext.pop_front();
        } else if (ahead->inFlight < ahead->limit && !ahead->waiting.empty()) {
            directory = ahead->waiting.front();
            ahead->waiting.pop_front();
            ahead->inFlight += 1;
        } else {
            return;
        }
        AheadDir* dir = &ahead->dirs[directory];
        uint32_t length;
        if (list) {
            length = putListRequest(&context->conn, request, context->androidRoot, directory,
                                    &dir->notes);
        } else {
            MarkerNode marker;
            initMarkerNode(&marker, directory);
            length = putStatRequest(&context->conn, request, context->androidRoot, &marker.node);
        }
        if (length == 0) {
            // Not asked: a marker path that does not fit means no marker; a directory
            // path that does not fit reads as empty.
            if (list) {
                dir->state = AheadState::Done;
                ahead->inFlight -= 1;
            } else {
                dir->state = AheadState::ListNeeded;
                ahead->listNext.push_front(directory);
            }
            continue;
        }
        dir->state = list ? AheadState::ListOut : AheadState::StatOut;
        ahead->sent.push_back(AheadRequest{directory, list ? AheadAsk::List : AheadAsk::Marker});
        if (!list && ahead->limit > 1) {
            // The LIST path is shorter than the marker's, so it fits when the STAT did.
            uint32_t more = putListRequest(&context->conn, request + length, context->androidRoot,
                                           directory, &dir->notes);
            if (more != 0) {
                dir->listAsked = true;
                ahead->sent.push_back(AheadRequest{directory, AheadAsk::List});
                length += more;
            }
        }
        adbSendReading(&context->conn, request, length, readAheadReply, ahead);
    }
}

// Waits until the walk may use the directory's marker test (`listing` false) or its
// listing too. A directory not asked for yet is asked for first.
AheadDir* awaitDevice(DeviceAhead* ahead, FileNode* directory, bool listing) {
    AheadDir* dir = &ahead->dirs[directory];
    if (dir->state == AheadState::Waiting) {
        auto queued = std::find(ahead->waiting.begin(), ahead->waiting.end(), directory);
        if (queued != ahead->waiting.end()) ahead->waiting.erase(queued);
        ahead->waiting.push_front(directory);
    }
    for (;;) {
        sendAhead(ahead);
        bool ready =
            dir->state == AheadState::Done || (!listing && dir->state >= AheadState::ListNeeded);
        if (ready) return dir;
        readAheadReply(ahead);
    }
}

// Once a pair is read: the device subdirectories that the merge will enter, in its
// order, go to the front of the queue, so requests go out in the walk's order.
void askAhead(SyncContext* context, FileNode* host, FileNode* device) {
    if (context->recurse == 0 || device == nullptr) return;
    DeviceAhead* ahead = context->ahead;
    std::vector<FileNode*> next;
    FileNode* p = host != nullptr ? host->firstChild : nullptr;
    for (FileNode* q = device->firstChild; q != nullptr;) {
        int side = p == nullptr ? 1 : compareNames(p->name, q->name);
        if (side < 0) {
            p = p->nextSibling;
            continue;
        }
        if (side > 0 && isDirectory(q) && (context->copyFlags & kCopyDirsHost) != 0)
            next.push_back(q);
        // The device is not asked when the host side has the marker.
        if (side == 0 && isDirectory(p) && isDirectory(q) && !hostHasMarker(context, p)) {
            next.push_back(q);
            ahead->dirs[q].hostClear = true;
        }
        if (side == 0) p = p->nextSibling;
        q = q->nextSibling;
    }
    ahead->waiting.insert(ahead->waiting.begin(), next.begin(), next.end());
    sendAhead(ahead);
}

// The walk leaves a device directory without its listing: a record that is done is
// removed now, one with a LIST out when the reply has been read and dropped.
void leaveDevice(DeviceAhead* ahead, FileNode* device) {
    auto found = ahead->dirs.find(device);
    if (found == ahead->dirs.end()) return;
    if (found->second.state == AheadState::Done)
        ahead->dirs.erase(found);
    else
        found->second.drop = true;
}

// Says the lines kept for the walk's arrival, once.
void sayNotes(std::string* notes) {
    size_t start = 0;
    while (start < notes->size()) {
        size_t end = notes->find('\n', start);
        std::string line = notes->substr(start, end - start);
        reportMessage(line.c_str());
        start = end + 1;
    }
    notes->clear();
}

// Records the identity of a device directory the walk enters, one per depth. False,
// after one line, when it equals an ancestor's: a directory that lists itself (a bind
// mount, a lying device) would be walked without end.
bool enterDeviceDirectory(SyncContext* context, FileNode* device, const AheadDir* dir) {
    size_t depth = 0;
    for (const FileNode* n = device; n->parent != nullptr; n = n->parent) ++depth;
    if (!dir->idKnown || depth >= kMaxHostDepth) return true;
    for (size_t i = 0; i < depth; ++i) {
        const DeviceDirId& seen = context->deviceWalk[i];
        if (seen.inode == dir->id.inode && seen.volume == dir->id.volume &&
            seen.file == dir->id.file) {
            char shown[kNarrowPathBytes];
            devicePathNarrow(context->androidRoot, device, shown);
            sanitiseServerText(shown);
            char message[kNarrowPathBytes + 128];
            std::snprintf(message, sizeof message,
                          "Skipped device directory \"%s\": the same directory as one that "
                          "contains it",
                          shown);
            reportMessage(message);
            return false;
        }
    }
    context->deviceWalk[depth] = dir->id;
    return true;
}

// One directory pair of the walk, with the requests in flight of `context->ahead`.
void compareLevel(SyncContext* context, FileNode* host, FileNode* device) {
    DeviceAhead* ahead = context->ahead;
    // The device is not asked when the host side already has the marker (looked up
    // once: when the pair was asked for ahead, that answer holds).
    auto known = device != nullptr ? ahead->dirs.find(device) : ahead->dirs.end();
    bool hostClear = known != ahead->dirs.end() && known->second.hostClear;
    bool marker = host != nullptr && !hostClear && hostHasMarker(context, host);
    if (!marker && device != nullptr) {
        AheadDir* dir = awaitDevice(ahead, device, false);
        sayNotes(&dir->markerNotes);
        marker = dir->marker;
        if (marker) leaveDevice(ahead, device);
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
        if (device != nullptr) leaveDevice(ahead, device);
        setStatus(context, host, nullptr, HostDirIgnored);
        setStatus(context, nullptr, device, AndroidDirIgnored);
        return;
    }
    if (device != nullptr) {
        AheadDir* dir = awaitDevice(ahead, device, true);
        sayNotes(&dir->markerNotes);
        sayNotes(&dir->notes);
        bool enter = enterDeviceDirectory(context, device, dir);
        ahead->dirs.erase(device);
        if (!enter) {
            // Left out of both passes, like a host directory that contains itself.
            if (host != nullptr) host->firstChild = nullptr;
            device->firstChild = nullptr;
            setStatus(context, host, nullptr, HostDirIgnored);
            setStatus(context, nullptr, device, AndroidDirIgnored);
            return;
        }
    }
    askAhead(context, host, device);
    classifyChildren(context, host, device);
}

// The record of the requests ahead lives as long as one walk from its first level.
void beginWalk(SyncContext* context, DeviceAhead* ahead) {
    ahead->context = context;
    uint32_t limit = context->requestWindow;
    ahead->limit = limit == 0 || limit > kAheadDirs ? kAheadDirs : limit;
    ahead->inFlight = 0;
    ahead->draining = false;
    ahead->rootRead = false;
    ahead->rootExists = false;
    context->ahead = ahead;
}

struct WalkScope {
    SyncContext* context;
    ~WalkScope() { context->ahead = nullptr; }
};

// Replies nobody waited for (a host marker that appeared meanwhile, a walk that
// stopped at the root) are read and dropped, leaving the connection clean for the
// transfers.
void endWalk(DeviceAhead* ahead) {
    ahead->draining = true;
    while (!ahead->sent.empty()) readAheadReply(ahead);
}

constexpr uint64_t kOneHour = 3600;

// Whole 64-bit seconds, so that times after 2106 still compare in order.
uint64_t unixSeconds(uint64_t fileTime, uint32_t rounding) {
    uint64_t seconds = 0;
    fileTimeToUnix64(fileTime, &seconds, rounding);
    return seconds;
}

// Upper case as a case-folding file system compares names.
std::u16string foldedName(const FileNode* node) {
    std::u16string key(node->name);
    for (char16_t& c : key) c = osUpperChar(c);
    return key;
}

// The one-sided children of a directory pair whose names equal one on the other side
// without regard to case: a file system that folds case (Windows, FAT and exFAT
// drives, the device's shared storage) holds one file for both, so copying either
// could replace the other.
std::unordered_set<const FileNode*> caseClashes(const FileNode* host, const FileNode* device) {
    std::unordered_set<const FileNode*> clashes;
    if (host == nullptr || device == nullptr) return clashes;
    std::unordered_set<std::u16string> hostNames;
    std::unordered_set<std::u16string> deviceNames;
    for (const FileNode* p = host->firstChild; p != nullptr; p = p->nextSibling)
        hostNames.insert(p->name);
    for (const FileNode* q = device->firstChild; q != nullptr; q = q->nextSibling)
        deviceNames.insert(q->name);
    std::unordered_map<std::u16string, const FileNode*> hostOnly;
    for (const FileNode* p = host->firstChild; p != nullptr; p = p->nextSibling)
        if (deviceNames.count(p->name) == 0) hostOnly.emplace(foldedName(p), p);
    for (const FileNode* q = device->firstChild; q != nullptr; q = q->nextSibling) {
        if (hostNames.count(q->name) != 0) continue;
        auto found = hostOnly.find(foldedName(q));
        if (found == hostOnly.end()) continue;
        clashes.insert(found->second);
        clashes.insert(q);
    }
    return clashes;
}

// One line on standard error for an entry left alone because of a case clash.
void reportCaseClash(const SyncContext* context, const FileNode* node, bool onHost) {
    constexpr char kReason[] = "equal to a name on the other side but for case";
    char path[kNarrowPathBytes];
    char message[kNarrowPathBytes + 128];
    if (onHost) {
        hostPathNarrow(context->hostRoot, node, path);
        std::snprintf(message, sizeof message, "Skipped \"%s\": %s", path, kReason);
    } else {
        devicePathNarrow(context->androidRoot, node, path);
        std::snprintf(message, sizeof message, "Skipped device entry \"%s\": %s", path, kReason);
    }
    reportMessage(message);
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
    if (context->ahead != nullptr) {
        compareLevel(context, host, device);
        return;
    }
    DeviceAhead ahead;
    beginWalk(context, &ahead);
    WalkScope scope{context};
    compareLevel(context, host, device);
    endWalk(&ahead);
}

void compareRoots(SyncContext* context) {
    FileNode* device = &context->androidTop;
    DeviceAhead ahead;
    beginWalk(context, &ahead);
    WalkScope scope{context};
    unsigned char request[kSyncRequestBytes];
    uint32_t length = putStatRequest(&context->conn, request, context->androidRoot, device);
    if (length != 0) {
        ahead.sent.push_back(AheadRequest{device, AheadAsk::Root});
        adbSendReading(&context->conn, request, length, readAheadReply, &ahead);
        if (ahead.limit > 1 && !hostHasMarker(context, &context->hostTop)) {
            ahead.dirs[device].hostClear = true;
            ahead.waiting.push_back(device);
            sendAhead(&ahead);
        }
        while (!ahead.rootRead) readAheadReply(&ahead);
    }
    char shown[kNarrowPathBytes];
    devicePathNarrow(context->androidRoot, device, shown);
    checkRoot(ahead.rootExists, device, shown);
    compareLevel(context, &context->hostTop, device);
    endWalk(&ahead);
}

void checkRoot(bool exists, const FileNode* top, const char* shown) {
    if (exists && isDirectory(top)) return;
    raiseErrorText(exists ? ERR_ROOT_NOT_DIRECTORY : ERR_ROOT_MISSING, shown);
}

void classifyChildren(SyncContext* context, FileNode* host, FileNode* device) {
    std::unordered_set<const FileNode*> clashes = caseClashes(host, device);
    // Left alone, with a line each, in the walk's order.
    auto leaveAlone = [&](FileNode* node, bool onHost) {
        if (clashes.count(node) == 0) return false;
        reportCaseClash(context, node, onHost);
        int status = isDirectory(node) ? (onHost ? HostDirIgnored : AndroidDirIgnored)
                                       : (onHost ? HostFileIgnored : AndroidFileIgnored);
        setStatus(context, onHost ? node : nullptr, onHost ? nullptr : node, status);
        return true;
    };
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
            if (!leaveAlone(p, true)) classifyOneSided(context, p, nullptr);
            p = p->nextSibling;
        } else if (side > 0) {
            q->order = n;
            if (!leaveAlone(q, false)) classifyOneSided(context, nullptr, q);
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
    if (isIgnored(context->ignoreList, context->onlyList, host->name) ||
        isIgnored(context->ignoreList, context->onlyList, device->name)) {
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
