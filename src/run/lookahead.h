// The comparison's look-ahead: the marker STAT and the LIST of each device directory
// the walk will enter go out ahead of the walk, within a window of directories, and
// their replies wait in a record per directory until the walk gets there.
// Raise: endLookahead, statDeviceRoot, askAhead, awaitDeviceMarker and
// takeDeviceListing, on device and connection faults (they send requests or read
// replies). The others never raise.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

struct SyncContext;
struct FileNode;

// Where a device directory's requests stand; see the table in lookahead.cpp.
enum class AheadState { Waiting, StatOut, ListToSend, ListOut, Done };

struct AheadDir {
    AheadState state = AheadState::Waiting;
    bool marker = false;             // the STAT found the marker: the listing is not used
    bool listSentWithStat = false;   // the LIST went out in the STAT's write
    bool discardListing = false;     // the walk left without the listing: drop it on arrival
    bool hostWithoutMarker = false;  // the host side was found without the marker when asked
    std::string notes;               // lines about skipped entries, said when the walk arrives
};

enum class AheadAsk { Root, Marker, List };  // the root's STAT, a marker STAT, a LIST

struct AheadRequest {
    FileNode* directory;
    AheadAsk ask;
};

struct DeviceLookahead {
    SyncContext* context;
    uint32_t limit;     // directories with requests in flight at most
    uint32_t inFlight;  // directories in StatOut, ListToSend or ListOut
    std::unordered_map<FileNode*, AheadDir> dirs;
    std::deque<FileNode*> waiting;   // to ask, the walk's next first
    std::deque<FileNode*> listNext;  // STAT read without a marker, LIST to send
    std::deque<AheadRequest> sent;   // as their replies will come
    bool walkEnded;                  // listings still coming are dropped
    bool rootRead;                   // the device root's STAT was answered
    bool rootExists;
};

// Starts a walk's look-ahead and sets `context->lookahead` to it.
void beginLookahead(DeviceLookahead* ahead, SyncContext* context);
// Reads and drops the replies nobody waited for, leaving the connection clean for
// the transfers, and clears `context->lookahead`.
void endLookahead(DeviceLookahead* ahead);
// Sends the device root's STAT, with the root's own marker STAT and LIST behind it
// when the window holds more than one directory and the host root has no marker,
// and waits for the root's reply. True when the root exists (its node is filled).
bool statDeviceRoot(DeviceLookahead* ahead, FileNode* root, bool hostRootWithoutMarker);
// A device directory the walk will enter; `hostWithoutMarker` when its host partner
// was looked up and has no marker (that answer then holds for the walk).
struct AheadEntry {
    FileNode* device;
    bool hostWithoutMarker;
};
// Puts the directories the walk will enter next, in its order, at the front of the
// queue and sends what the window allows.
void askAhead(DeviceLookahead* ahead, const std::vector<AheadEntry>& next);
// True when the host partner of `device` was already found without the marker.
bool lookaheadKnowsHostClear(const DeviceLookahead* ahead, const FileNode* device);
// Waits for the device directory's marker STAT (asking for it first if needed).
bool awaitDeviceMarker(DeviceLookahead* ahead, FileNode* device);
// Waits for the device directory's listing (its children are then in the node),
// says its lines about skipped entries and forgets the directory.
void takeDeviceListing(DeviceLookahead* ahead, FileNode* device);
// The walk leaves a device directory without its listing: a listing still coming is
// read and dropped.
void abandonDeviceListing(DeviceLookahead* ahead, FileNode* device);
