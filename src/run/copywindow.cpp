// The copy window's ring: adding, reading replies, retiring the oldest file with its
// copy line.
#include "run/copywindow.h"

#include "adb/connection.h"
#include "run/context.h"
#include "run/listing.h"
#include "run/statusline.h"
#include "support/errors.h"
#include "tree/status.h"

namespace {

// Begins the oldest file's copy line (when not yet done), timed from its first byte.
void beginOldestCopyLine(CopyWindow* window) {
    if (window->lineBegun || window->count == 0) return;
    InFlightFile* file = oldestFile(window);
    if (file->notTried) return;  // no line: the list at the end names it
    beginCopyLine(window->context, file->status, file->node, file->node->partner);
    window->context->copyStart = file->start;
    window->lineBegun = true;
}

// The connection's reader while a send waits for room.
bool readOneReply(void* window) {
    CopyWindow* w = static_cast<CopyWindow*>(window);
    return w->readReply(w);
}

}  // namespace

void initCopyWindow(CopyWindow* window, SyncContext* context, bool (*readReply)(CopyWindow*),
                    void* pass) {
    window->context = context;
    window->readReply = readReply;
    window->pass = pass;
    uint32_t limit = context->requestWindow;
    window->limit = limit == 0 || limit > kWindowFiles ? kWindowFiles : limit;
    window->first = 0;
    window->count = 0;
    window->bytes = 0;
    window->lineBegun = false;
}

InFlightFile* oldestFile(CopyWindow* window) {
    return &window->files[window->first];
}

InFlightFile* newestFile(CopyWindow* window) {
    return &window->files[(window->first + window->count - 1) % kWindowFiles];
}

bool addToWindow(CopyWindow* window, FileNode* node, int status, uint64_t bytes) {
    while (window->count >= window->limit ||
           (window->count > 0 && window->bytes + bytes > kWindowBytes))
        if (!window->readReply(window)) return false;
    uint32_t slot = (window->first + window->count) % kWindowFiles;
    window->files[slot] = InFlightFile{node, status, osPerfCounter(), bytes, false, false, nullptr};
    window->count += 1;
    window->bytes += bytes;
    beginOldestCopyLine(window);
    return true;
}

InFlightFile* oldestAwaitingReply(CopyWindow* window) {
    if (window->count == 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    beginOldestCopyLine(window);
    return oldestFile(window);
}

void retireOldest(CopyWindow* window, const char* skipped) {
    InFlightFile* file = oldestFile(window);
    statusFileEnd(&window->context->status);
    if (skipped == nullptr)
        endCopyLine(window->context, file->status);
    else
        abandonCopyLine(window->context, file->status, file->node, skipped);
    dropOldest(window);
}

void dropOldest(CopyWindow* window) {
    InFlightFile* file = oldestFile(window);
    window->bytes -= file->bytes;
    window->first = (window->first + 1) % kWindowFiles;
    window->count -= 1;
    window->lineBegun = false;
    beginOldestCopyLine(window);
}

void emptyWindow(CopyWindow* window) {
    window->first = 0;
    window->count = 0;
    window->bytes = 0;
    window->lineBegun = false;
}

bool oldestLineOpen(CopyWindow* window) {
    return window->lineBegun && (window->context->listMask & statusBit(oldestFile(window)->status));
}

bool sendWithReplies(CopyWindow* window, const unsigned char* data, uint32_t count) {
    return adbSendReading(&window->context->conn, data, count, readOneReply, window);
}

// Bytes beyond the files in flight are left for the next file (whose reply they then
// spoil) or for the end of the pass, where they answer nothing that was asked.
bool readArrivedReplies(CopyWindow* window) {
    while (window->count > 0 && adbBytesAvailable(&window->context->conn) > 0)
        if (!window->readReply(window)) return false;
    return true;
}

bool drainWindow(CopyWindow* window, uint32_t keep) {
    while (window->count > keep)
        if (!window->readReply(window)) return false;
    return true;
}

bool finishWindow(CopyWindow* window) {
    if (!drainWindow(window, 0)) return false;
    if (adbBytesAvailable(&window->context->conn) > 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    return true;
}
