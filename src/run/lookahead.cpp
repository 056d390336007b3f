// The comparison's look-ahead: once a directory pair is read, the marker STAT and the
// LIST of each device subdirectory to be entered go out together, within a window,
// so a level costs one round trip. The listing of a directory that turns out to hold
// the marker is read and dropped. Replies come in request order and are kept in the
// nodes (children) and in a record per directory (marker, lines about skipped
// entries) until the walk gets there, so the walk, its order and its output stay
// those of one request at a time. With a window of one, the LIST waits for its STAT.
//
// A directory's record moves through these states:
//
//   state       meaning                                  next
//   Waiting     queued in `waiting`, nothing sent        StatOut (STAT sent; inFlight += 1)
//   StatOut     marker STAT sent (LIST too when          ListOut (STAT read, LIST already out)
//               `listSentWithStat`)                      ListToSend (no marker, LIST not out)
//                                                        Done (marker found, no LIST out)
//   ListToSend  in `listNext`, LIST to send              ListOut (LIST sent)
//                                                        Done (path does not fit)
//   ListOut     LIST sent, reply not read                Done (listing read or dropped)
//   Done        the walk may use marker and listing      erased when the walk is done with it
//
// Invariant: `inFlight` counts the records in StatOut, ListToSend and ListOut; it
// goes up when a STAT leaves Waiting and down in finishDirectory only, so the window
// holds at most `limit` directories whose replies are owed. Every request in `sent`
// belongs to a record in StatOut or ListOut (or to the root's STAT).
#include "run/lookahead.h"

#include <algorithm>

#include "adb/connection.h"
#include "adb/syncqueries.h"
#include "run/context.h"
#include "support/errors.h"
#include "tree/filetree.h"

namespace {

// 64 directories in flight: a level of up to 64 directories costs about two round
// trips (STAT, then LIST) instead of two per directory.
constexpr uint32_t kAheadDirs = 64;

// The one way into Done for a directory that was in flight.
void finishDirectory(DeviceLookahead* ahead, AheadDir* dir) {
    dir->state = AheadState::Done;
    ahead->inFlight -= 1;
}

// Reads the reply to the oldest request in flight into its directory's record.
bool readAheadReply(void* state) {
    DeviceLookahead* ahead = static_cast<DeviceLookahead*>(state);
    SyncContext* context = ahead->context;
    if (ahead->sent.empty()) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    AheadRequest request = ahead->sent.front();
    ahead->sent.pop_front();
    if (request.ask == AheadAsk::Root) {
        ahead->rootExists =
            readStatReplyIntoNode(&context->conn, context->androidRoot, request.directory);
        ahead->rootRead = true;
        return true;
    }
    AheadDir* dir = &ahead->dirs[request.directory];
    if (request.ask == AheadAsk::List) {
        if (dir->marker || dir->discardListing || ahead->walkEnded) {
            discardListReply(&context->conn);
            finishDirectory(ahead, dir);
            if (dir->discardListing) ahead->dirs.erase(request.directory);
            return true;
        }
        readListReply(&context->conn, &context->heap, context->androidRoot, request.directory,
                      &dir->notes);
        finishDirectory(ahead, dir);
        return true;
    }
    MarkerNode marker;
    initMarkerNode(&marker, request.directory);
    dir->marker = readStatReplyIntoNode(&context->conn, context->androidRoot, &marker.node);
    if (dir->listSentWithStat) {
        dir->state = AheadState::ListOut;
    } else if (dir->marker) {
        finishDirectory(ahead, dir);
    } else {
        dir->state = AheadState::ListToSend;
        ahead->listNext.push_back(request.directory);
    }
    return true;
}

// Sends what may go: every LIST whose STAT came back, then marker STATs while the
// window has room, each with its LIST behind it in the same write when the window
// holds more than one directory.
void sendAhead(DeviceLookahead* ahead) {
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
            length = putListRequest(&context->conn, request, context->androidRoot, directory);
        } else {
            MarkerNode marker;
            initMarkerNode(&marker, directory);
            length = putStatRequest(&context->conn, request, context->androidRoot, &marker.node);
        }
        if (length == 0) {
            // Not asked: a marker path that does not fit means no marker; a directory
            // path that does not fit reads as empty.
            if (list) {
                finishDirectory(ahead, dir);
            } else {
                dir->state = AheadState::ListToSend;
                ahead->listNext.push_front(directory);
            }
            continue;
        }
        dir->state = list ? AheadState::ListOut : AheadState::StatOut;
        ahead->sent.push_back(AheadRequest{directory, list ? AheadAsk::List : AheadAsk::Marker});
        if (!list && ahead->limit > 1) {
            // The LIST path is shorter than the marker's, so it fits when the STAT did.
            uint32_t more =
                putListRequest(&context->conn, request + length, context->androidRoot, directory);
            if (more != 0) {
                dir->listSentWithStat = true;
                ahead->sent.push_back(AheadRequest{directory, AheadAsk::List});
                length += more;
            }
        }
        adbSendReading(&context->conn, request, length, readAheadReply, ahead);
    }
}

// Waits until the walk may use the directory's marker test (`listing` false) or its
// listing too. A directory not asked for yet is asked for first.
AheadDir* awaitDevice(DeviceLookahead* ahead, FileNode* directory, bool listing) {
    AheadDir* dir = &ahead->dirs[directory];
    if (dir->state == AheadState::Waiting) {
        auto queued = std::find(ahead->waiting.begin(), ahead->waiting.end(), directory);
        if (queued != ahead->waiting.end()) ahead->waiting.erase(queued);
        ahead->waiting.push_front(directory);
    }
    for (;;) {
        sendAhead(ahead);
        bool ready =
            dir->state == AheadState::Done || (!listing && dir->state >= AheadState::ListToSend);
        if (ready) return dir;
        readAheadReply(ahead);
    }
}

void sayNotes(const std::string& notes) {
    size_t start = 0;
    while (start < notes.size()) {
        size_t end = notes.find('\n', start);
        std::string line = notes.substr(start, end - start);
        reportMessage(line.c_str());
        start = end + 1;
    }
}

}  // namespace

void beginLookahead(DeviceLookahead* ahead, SyncContext* context) {
    ahead->context = context;
    uint32_t limit = context->requestWindow;
    ahead->limit = limit == 0 || limit > kAheadDirs ? kAheadDirs : limit;
    ahead->inFlight = 0;
    ahead->walkEnded = false;
    ahead->rootRead = false;
    ahead->rootExists = false;
    context->lookahead = ahead;
}

void endLookahead(DeviceLookahead* ahead) {
    ahead->walkEnded = true;
    while (!ahead->sent.empty()) readAheadReply(ahead);
    ahead->context->lookahead = nullptr;
}

bool statDeviceRoot(DeviceLookahead* ahead, FileNode* root, bool hostRootWithoutMarker) {
    SyncContext* context = ahead->context;
    unsigned char request[kSyncRequestBytes];
    uint32_t length = putStatRequest(&context->conn, request, context->androidRoot, root);
    if (length == 0) return false;
    ahead->sent.push_back(AheadRequest{root, AheadAsk::Root});
    adbSendReading(&context->conn, request, length, readAheadReply, ahead);
    if (ahead->limit > 1 && hostRootWithoutMarker) {
        ahead->dirs[root].hostWithoutMarker = true;
        ahead->waiting.push_back(root);
        sendAhead(ahead);
    }
    while (!ahead->rootRead) readAheadReply(ahead);
    return ahead->rootExists;
}

void askAhead(DeviceLookahead* ahead, const std::vector<AheadEntry>& next) {
    std::vector<FileNode*> directories;
    for (const AheadEntry& entry : next) {
        directories.push_back(entry.device);
        if (entry.hostWithoutMarker) ahead->dirs[entry.device].hostWithoutMarker = true;
    }
    ahead->waiting.insert(ahead->waiting.begin(), directories.begin(), directories.end());
    sendAhead(ahead);
}

bool lookaheadKnowsHostClear(const DeviceLookahead* ahead, const FileNode* device) {
    auto known = ahead->dirs.find(const_cast<FileNode*>(device));
    return known != ahead->dirs.end() && known->second.hostWithoutMarker;
}

bool awaitDeviceMarker(DeviceLookahead* ahead, FileNode* device) {
    return awaitDevice(ahead, device, false)->marker;
}

void takeDeviceListing(DeviceLookahead* ahead, FileNode* device) {
    sayNotes(awaitDevice(ahead, device, true)->notes);
    ahead->dirs.erase(device);
}

void abandonDeviceListing(DeviceLookahead* ahead, FileNode* device) {
    auto found = ahead->dirs.find(device);
    if (found == ahead->dirs.end()) return;
    if (found->second.state == AheadState::Done)
        ahead->dirs.erase(found);
    else
        found->second.discardListing = true;
}
