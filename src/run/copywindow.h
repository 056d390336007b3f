// The copy window: the files whose requests went out and whose replies are not all
// read, oldest first in a ring. A pass adds a file when there is room (reading
// replies until there is), the replies are read as they arrive, and the oldest file
// retires with its copy line once its reply is read.
// Raise: addToWindow, oldestAwaitingReply, sendWithReplies, readArrivedReplies,
// drainWindow and finishWindow, on connection faults and through the pass's own
// reply reader. The others never raise.
#pragma once

#include <cstdint>

struct SyncContext;
struct FileNode;

// At most this many files in flight, and their listed bytes at most kWindowBytes
// unless one file alone is larger. At 5 ms a round trip, 128 files of 4 KiB keep
// about 100 MB/s of small files moving; 4 MiB keeps a FAIL close to the file it names
// while big files stream anyway (a file never waits for bytes of its own).
constexpr uint32_t kWindowFiles = 128;
constexpr uint64_t kWindowBytes = 4u << 20;

// One file whose request went out and whose reply is not all read.
struct InFlightFile {
    FileNode* node;
    int status;            // of its copy line
    uint64_t start;        // counter at its first request byte
    uint64_t bytes;        // listed size, counted against kWindowBytes
    bool complete;         // push: its DONE went out, so its status may come
    bool changed;          // push: the host file changed while it was read
    const char* notTried;  // -k: its pass stopped; no copy line, its reply is dropped
};

struct CopyWindow {
    SyncContext* context;
    bool (*readReply)(CopyWindow* window);  // one reply (push) or record (pull) of the oldest
    void* pass;                             // the pass's own state, for readReply
    uint32_t limit;                         // files in flight at most; 1 = one at a time
    InFlightFile files[kWindowFiles];
    uint32_t first;
    uint32_t count;
    uint64_t bytes;
    bool lineBegun;  // the oldest file's copy line is begun
};

// An empty window of `context->requestWindow` files (0: kWindowFiles).
void initCopyWindow(CopyWindow* window, SyncContext* context, bool (*readReply)(CopyWindow*),
                    void* pass);
InFlightFile* oldestFile(CopyWindow* window);
InFlightFile* newestFile(CopyWindow* window);
// Waits for room for a file of `bytes`, then adds it, starting its time now, just
// before its first request byte. False when a reply reader failed on the host side.
bool addToWindow(CopyWindow* window, FileNode* node, int status, uint64_t bytes);
// The file the reply now on the connection belongs to, with its copy line begun (a
// FAIL that follows is read under it). A reply when nothing is in flight answers a
// request that was never sent: raises ERR_ADB_UNKNOWN_RESPONSE.
InFlightFile* oldestAwaitingReply(CopyWindow* window);
// Ends the oldest file's copy line with its duration, or, when it was not copied
// (`skipped`), with the reason already said, and moves on to the next file.
void retireOldest(CopyWindow* window, const char* skipped = nullptr);
// Moves past the oldest file without ending its line (the caller said why it is not
// copied), and begins the next one's.
void dropOldest(CopyWindow* window);
// Forgets every file in flight (the connection they went out on is gone).
void emptyWindow(CopyWindow* window);
// True when the oldest file's copy line is begun and shown, waiting for its end.
bool oldestLineOpen(CopyWindow* window);
// Sends with replies in flight, reading them whenever the link has no room.
bool sendWithReplies(CopyWindow* window, const unsigned char* data, uint32_t count);
// Reads the replies that are already there, without waiting for more.
bool readArrivedReplies(CopyWindow* window);
// Reads replies until at most `keep` files are in flight.
bool drainWindow(CopyWindow* window, uint32_t keep);
// Reads everything in flight to its end; a reply beyond them answers nothing and
// raises ERR_ADB_UNKNOWN_RESPONSE.
bool finishWindow(CopyWindow* window);
