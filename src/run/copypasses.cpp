// The copy passes. Requests go out ahead of their replies within a window: a push
// sends the SEND, DATA and DONE of the next files while the statuses of earlier ones
// are outstanding, a pull sends the RECVs of the next files while the earlier ones
// arrive. Replies come in request order and are read as they arrive; copy lines
// appear in pass order, each timed from its file's first request byte. A pull
// receives into a temporary file beside its target that replaces the target only
// once the whole file has arrived, so a failed or interrupted pull keeps the old file.
#include "run/copypasses.h"

#include <cstdio>
#include <cstring>

#include "adb/connection.h"
#include "adb/syncqueries.h"
#include "adb/transfers.h"
#include "hostfs/hostfs.h"
#include "hostfs/pullplace.h"
#include "run/context.h"
#include "run/listing.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "tree/filetree.h"
#include "tree/status.h"

namespace {

constexpr uint32_t kMessageBytes = kNarrowPathBytes + 64;  // a skipped-path message

// The window: at most this many files in flight, and their listed bytes at most
// kWindowBytes unless one file alone is larger. At 5 ms a round trip, 128 files of
// 4 KiB keep about 100 MB/s of small files moving; 4 MiB keeps a FAIL close to the
// file it names while big files stream anyway (a file never waits for bytes of its own).
constexpr uint32_t kWindowFiles = 128;
constexpr uint64_t kWindowBytes = 4u << 20;

// One write of a push: the SEND request, one DATA record and DONE fit together, so a
// small file goes out in one write.
constexpr uint32_t kBatchBytes =
    kSyncRequestBytes + kSyncHeaderBytes + kDataChunkBytes + kSyncHeaderBytes;
unsigned char batch[kBatchBytes];

// The pull reads its DATA pieces into this buffer.
unsigned char receiveBuffer[kDataChunkBytes];

constexpr char kPathTooLong[] = "Path too long, not copied";
constexpr char kFileChanged[] = "File changed while copied, not copied";
constexpr char kLinkTarget[] = "Symbolic link, not replaced";

// A file that is not copied: a path that does not fit its buffer (a cut path would
// name another file), or a file that changed since it was listed. One line on
// standard output says so and the run goes on.
void reportSkipped(const FileNode* node, const char* reason) {
    char path[kNarrowPathBytes];
    displayPath(node, path);
    char line[kMessageBytes];
    int length = std::snprintf(line, sizeof line, "%s: %s%s", reason, path, osLineEnd());
    if (length > 0) osWriteStdout(line, std::strlen(line));
}

// The temporary file of a pull. Until it is renamed over the target it is removed on
// every way out, a raise included, so an interrupted pull leaves the old file as it was.
struct PullTarget {
    OsFile file = kNoFile;
    bool created = false;
    char16_t tempPath[kPathChars];
    PullPlace place;  // what it may replace, and the target found when it began

    void discard() {
        if (file != kNoFile) osCloseFile(file);
        file = kNoFile;
        if (created) osDeleteFile(tempPath);
        if (created) osSetInterruptCleanup(nullptr, kNoFile);
        created = false;
    }
    ~PullTarget() { discard(); }
};

void openPullTarget(PullTarget* target, const char16_t* path) {
    checkPullPlace(&target->place, path);  // decided at the rename; recorded now
    target->file = createHostTempFile(path, target->tempPath);
    target->created = true;
    osSetInterruptCleanup(target->tempPath, target->file);  // Ctrl-C removes it too
}

// Closes the whole temporary file and puts it in place (see placePulledFile). Failed
// when the close reports a late write error. Raises ERR_FILE_CREATE with the target
// when the rename fails (a directory there).
PlaceCheck replaceTarget(PullTarget* target, const char16_t* targetPath) {
    bool closed = osCloseFile(target->file);
    target->file = kNoFile;
    if (!closed) return PlaceCheck::Failed;
    PlaceCheck placed = placePulledFile(&target->place, target->tempPath, targetPath);
    if (placed != PlaceCheck::Fits) return placed;
    target->created = false;
    osSetInterruptCleanup(nullptr, kNoFile);
    return placed;
}

// What a pull of `node` may replace: nothing for a new file; for an update the host
// file as listed, or any file when it goes to an alternative root (never listed).
void describePlace(const SyncContext* context, const FileNode* node, PullPlace* place) {
    bool sameRoot = wideLength(context->altRoot) == wideLength(context->hostRoot) &&
                    std::memcmp(context->altRoot, context->hostRoot,
                                wideLength(context->hostRoot) * sizeof(char16_t)) == 0;
    place->replaces = node->status == AndroidFileOnly ? PullReplaces::Nothing
                      : sameRoot                      ? PullReplaces::Listed
                                                      : PullReplaces::AnyFile;
    const FileNode* listed = node->partner;
    place->size = listed != nullptr ? listed->fullSize : 0;
    place->mtime = listed != nullptr ? listed->mtime : 0;
    place->foundSet = false;
}

// One file whose request went out and whose reply is not all read.
struct InFlight {
    FileNode* node;
    int status;      // of its copy line
    uint64_t start;  // counter at its first request byte
    uint64_t bytes;  // listed size, counted against kWindowBytes
    bool complete;   // push: its DONE went out, so its status may come
    bool changed;    // push: the host file changed while it was read
};

// The files in flight, oldest first, in a ring; only the oldest one's reply can be
// on the connection.
struct CopyWindow {
    SyncContext* context;
    bool (*readReply)(CopyWindow* window);  // one reply (push) or record (pull) of the oldest
    uint32_t limit;                         // files in flight at most; 1 = one at a time
    InFlight files[kWindowFiles];
    uint32_t first;
    uint32_t count;
    uint64_t bytes;
    bool shown;         // the oldest file's copy line is begun
    PullTarget target;  // pull: the oldest file's temporary file
    uint64_t received;  // pull: its bytes so far
};

InFlight* oldest(CopyWindow* window) {
    return &window->files[window->first];
}

// Begins the oldest file's copy line (when not yet done), timed from its first byte.
void showOldest(CopyWindow* window) {
    if (window->shown || window->count == 0) return;
    InFlight* file = oldest(window);
    beginCopyLine(window->context, file->status, file->node, file->node->partner);
    window->context->copyStart = file->start;
    window->shown = true;
}

// Ends the oldest file's copy line with its duration, or, when it was not copied
// (`skipped`), with the reason already said, and moves on to the next file.
void retireOldest(CopyWindow* window, const char* skipped = nullptr) {
    InFlight* file = oldest(window);
    if (skipped == nullptr)
        endCopyLine(window->context, file->status);
    else
        abandonCopyLine(window->context, file->status, file->node, skipped);
    window->bytes -= file->bytes;
    window->first = (window->first + 1) % kWindowFiles;
    window->count -= 1;
    window->shown = false;
    showOldest(window);
}

// A reply when nothing is in flight answers a request that was never sent.
InFlight* expectReply(CopyWindow* window) {
    if (window->count == 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    showOldest(window);  // a FAIL that follows is read under its file's line
    return oldest(window);
}

bool readReplyOf(void* window) {
    CopyWindow* w = static_cast<CopyWindow*>(window);
    return w->readReply(w);
}

// Sends with replies in flight, reading them whenever the link has no room.
bool sendReading(CopyWindow* window, const unsigned char* data, uint32_t count) {
    return adbSendReading(&window->context->conn, data, count, readReplyOf, window);
}

// Reads the replies that are already there, without waiting for more. Bytes beyond
// the files in flight are left for the next file (whose reply they then spoil) or
// for the end of the pass, where they answer nothing that was asked.
bool readArrived(CopyWindow* window) {
    while (window->count > 0 && adbBytesAvailable(&window->context->conn) > 0)
        if (!window->readReply(window)) return false;
    return true;
}

// Reads replies until at most `keep` files are in flight.
bool drainTo(CopyWindow* window, uint32_t keep) {
    while (window->count > keep)
        if (!window->readReply(window)) return false;
    return true;
}

// Waits for room in the window for a file of `bytes`, then counts it in, starting its
// time now, just before its first request byte.
bool admit(CopyWindow* window, FileNode* node, int status, uint64_t bytes) {
    while (window->count >= window->limit ||
           (window->count > 0 && window->bytes + bytes > kWindowBytes))
        if (!window->readReply(window)) return false;
    uint32_t slot = (window->first + window->count) % kWindowFiles;
    window->files[slot] = InFlight{node, status, osPerfCounter(), bytes, false, false};
    window->count += 1;
    window->bytes += bytes;
    showOldest(window);
    return true;
}

void initWindow(CopyWindow* window, SyncContext* context, bool (*readReply)(CopyWindow*)) {
    window->context = context;
    window->readReply = readReply;
    uint32_t limit = context->requestWindow;
    window->limit = limit == 0 || limit > kWindowFiles ? kWindowFiles : limit;
    window->first = 0;
    window->count = 0;
    window->bytes = 0;
    window->shown = false;
    window->received = 0;
}

// Reads exactly `count` bytes of the host file; false when it fails or ends early
// (the file shrank since it was read).
bool readWhole(OsFile file, unsigned char* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        int64_t got = osReadFile(file, buffer + done, count - done);
        if (got <= 0) return false;
        done += static_cast<uint32_t>(got);
    }
    return true;
}

// The oldest push's status. A FAIL raises under its file's line; an OKAY before the
// file's DONE went out answers nothing that was asked.
bool readPushReply(CopyWindow* window) {
    InFlight* file = expectReply(window);
    readSendStatus(&window->context->conn);
    if (!file->complete) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    if (file->changed) window->context->pushesSkipped += 1;
    retireOldest(window, file->changed ? kFileChanged : nullptr);
    return true;
}

bool pushTargets(SyncContext* context, FileNode* node, char16_t* localPath, char* remotePath) {
    return hostPath(context->hostRoot, node, localPath) &&
           devicePath(context->androidRoot, node, remotePath) &&
           std::strlen(remotePath) <= kMaxSendPathBytes;
}

// Sends one file: SEND, its DATA records and DONE, gathered into as few writes as the
// batch buffer allows. False, without DONE, when the host file cannot be read whole.
bool pushOne(CopyWindow* window, FileNode* node) {
    SyncContext* context = window->context;
    char16_t localPath[kPathChars];
    char remotePath[kNarrowPathBytes];
    if (!pushTargets(context, node, localPath, remotePath)) {
        if (!drainTo(window, 0)) return false;  // the line keeps its place in the pass
        reportSkipped(node, kPathTooLong);
        return true;
    }

    // The whole 64-bit length: `size` holds only its low 32 bits.
    uint64_t length = node->fullSize >= node->size ? node->fullSize : node->size;
    OsFile file = osOpenRead(localPath);
    if (file == kNoFile) {
        if (!drainTo(window, 0)) return false;
        // A regular file that cannot be opened is an error; one that is gone or became
        // something else (a FIFO, whose open would wait for a writer) changed.
        OsFileStamp found;
        OsFileInfo info;
        if (osPathStamp(localPath, &found) &&
            (found.regular || (found.link && osStatPath(localPath, &info) && !info.isDirectory)))
            raiseErrorWide(ERR_FILE_OPEN, localPath);
        reportSkipped(node, kFileChanged);
        context->pushesSkipped += 1;
        return true;
    }
    struct FileCloser {
        OsFile file;
        ~FileCloser() { osCloseFile(file); }
    } closer{file};
    OsFileStamp opened;
    if (!osFileStamp(file, &opened) || opened.size != length || opened.mtime != node->mtime) {
        if (!drainTo(window, 0)) return false;
        reportSkipped(node, kFileChanged);
        context->pushesSkipped += 1;
        return true;
    }
    int status = node->partner ? UpdatedOnAndroid : CreatedOnAndroid;
    if (!admit(window, node, status, length)) return false;
    InFlight* entry = &window->files[(window->first + window->count - 1) % kWindowFiles];
    uint32_t seconds = 0;  // stays 0 for a time before 1970
    fileTimeToUnix(node->mtime, &seconds, context->timeRounding);

    uint32_t used = putSendRequest(batch, remotePath);
    uint64_t remaining = length;
    while (remaining > 0) {
        uint32_t count =
            remaining < kDataChunkBytes ? static_cast<uint32_t>(remaining) : kDataChunkBytes;
        if (used + kSyncHeaderBytes + count > kBatchBytes) {
            if (!sendReading(window, batch, used) || !readArrived(window)) return false;
            used = 0;
        }
        if (!readWhole(file, batch + used + kSyncHeaderBytes, count)) {
            // The earlier files finish first, so their lines come before this one's.
            drainTo(window, 1);
            return false;
        }
        putRecordHeader(batch + used, "DATA", count);
        used += kSyncHeaderBytes + count;
        remaining -= count;
    }
    // Read whole, but written to meanwhile: the device gets what was read, with the
    // listed time, and the file counts as changed (sent again by the next run).
    OsFileStamp read;
    entry->changed = !osFileStamp(file, &read) || read.size != opened.size ||
                     read.mtime != opened.mtime || read.volume != opened.volume ||
                     read.file != opened.file;
    putRecordHeader(batch + used, "DONE", seconds);
    used += kSyncHeaderBytes;
    entry->complete = true;  // its status may come once this write is out
    return sendReading(window, batch, used) && readArrived(window);
}

// The host path a pulled file goes to: below the host root for a new file, below the
// alternative root (the host root unless one is given) for an update.
bool pullTargetPath(const SyncContext* context, const FileNode* node, char16_t* out) {
    const char16_t* root = node->status == AndroidFileOnly ? context->hostRoot : context->altRoot;
    return hostPath(root, node, out);
}

// The next record of the oldest pull; at its DONE the file replaces its target. False
// when the host file cannot be written or renamed.
bool readPullReply(CopyWindow* window) {
    InFlight* file = expectReply(window);
    SyncContext* context = window->context;
    AdbConnection* conn = &context->conn;
    FileNode* node = file->node;
    char16_t targetPath[kPathChars];  // built when needed; it fitted when the RECV went out
    PullTarget* target = &window->target;

    uint32_t length = 0;
    if (readRecvRecord(conn, &length)) {
        // Created at the first DATA record (or at DONE for an empty file), so a RECV
        // that the device refuses leaves neither a file nor new directories behind.
        if (!target->created) {
            pullTargetPath(context, node, targetPath);
            describePlace(context, node, &target->place);
            openPullTarget(target, targetPath);
        }
        // Devices send at most 65536 bytes per record; a longer one is taken in pieces.
        while (length > 0) {
            uint32_t piece = length < kDataChunkBytes ? length : kDataChunkBytes;
            adbReceiveAll(conn, receiveBuffer, piece);
            if (!osWriteFile(target->file, receiveBuffer, piece)) return false;
            length -= piece;
            window->received += piece;
        }
        return true;
    }

    // A file whose length is not the one the device listed changed while it was
    // copied (a recording, a download): it replaces nothing, and the run goes on.
    // v1 listings carry only the low 32 bits of a size.
    bool wideSizes = (conn->features & kFeatureListV2) != 0;
    bool whole = wideSizes ? window->received == node->fullSize
                           : static_cast<uint32_t>(window->received) == node->size;
    window->received = 0;
    if (!whole) {
        target->discard();
        context->pullsSkipped += 1;
        retireOldest(window, kFileChanged);
        return true;
    }
    pullTargetPath(context, node, targetPath);
    if (!target->created) {
        describePlace(context, node, &target->place);
        openPullTarget(target, targetPath);
    }
    osSetFileTime(target->file, node->mtime);  // a file without the device time is still whole
    PlaceCheck placed = replaceTarget(target, targetPath);
    if (placed == PlaceCheck::Failed) return false;
    if (placed != PlaceCheck::Fits) {
        // Someone else's file is there now: it stays, and the run goes on.
        target->discard();
        context->pullsSkipped += 1;
        retireOldest(window, placed == PlaceCheck::Link ? kLinkTarget : kFileChanged);
        return true;
    }
    retireOldest(window);
    return true;
}

// Asks for one file with RECV; its records are read as they arrive.
bool pullOne(CopyWindow* window, FileNode* node) {
    SyncContext* context = window->context;
    char remotePath[kNarrowPathBytes];
    char16_t targetPath[kPathChars];
    if (!devicePath(context->androidRoot, node, remotePath) ||
        !pullTargetPath(context, node, targetPath) || !hostTempPathFits(targetPath)) {
        if (!drainTo(window, 0)) return false;
        reportSkipped(node, kPathTooLong);
        return true;
    }
    // A link is never replaced, and a file that changed since it was listed is not
    // asked for at all.
    PullPlace place;
    describePlace(context, node, &place);
    PlaceCheck check = checkPullPlace(&place, targetPath);
    if (check != PlaceCheck::Fits) {
        if (!drainTo(window, 0)) return false;
        reportSkipped(node, check == PlaceCheck::Link ? kLinkTarget : kFileChanged);
        if (check == PlaceCheck::Changed) context->pullsSkipped += 1;
        return true;
    }
    int status = node->partner ? UpdatedOnHost : CreatedOnHost;
    if (!admit(window, node, status, node->fullSize)) return false;
    unsigned char request[kSyncRequestBytes];
    uint32_t used = putRecvRequest(request, remotePath);
    return sendReading(window, request, used) && readArrived(window);
}

// Everything in flight is read to its end; a reply beyond them answers nothing.
bool finishWindow(CopyWindow* window) {
    if (!drainTo(window, 0)) return false;
    if (adbBytesAvailable(&window->context->conn) > 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    return true;
}

// One pass over a tree in pre-order: copies the files whose status is `onlyStatus`
// (with `createFlag`) or `newerStatus` (with `updateFlag`).
bool copyPass(SyncContext* context, FileNode* top, int onlyStatus, uint32_t createFlag,
              int newerStatus, uint32_t updateFlag, bool (*copy)(CopyWindow*, FileNode*),
              bool (*readReply)(CopyWindow*)) {
    context->printedAny = 0;
    CopyWindow window;
    initWindow(&window, context, readReply);
    for (FileNode* node = top->firstChild; node; node = nextNode(node)) {
        bool wanted = (node->status == onlyStatus && (context->copyFlags & createFlag)) ||
                      (node->status == newerStatus && (context->copyFlags & updateFlag));
        if (wanted && !copy(&window, node)) return false;
    }
    if (!finishWindow(&window)) return false;
    if (context->printedAny) context->needBlankLine = 1;
    return true;
}

}  // namespace

bool pushFile(SyncContext* context, FileNode* node) {
    CopyWindow window;
    initWindow(&window, context, readPushReply);
    return pushOne(&window, node) && finishWindow(&window);
}

bool pullFile(SyncContext* context, FileNode* node) {
    CopyWindow window;
    initWindow(&window, context, readPullReply);
    return pullOne(&window, node) && finishWindow(&window);
}

bool pushPass(SyncContext* context) {
    return copyPass(context, &context->hostTop, HostFileOnly, kCopyCreateAndroid, HostFileNewer,
                    kCopyUpdateAndroid, pushOne, readPushReply);
}

bool pullPass(SyncContext* context) {
    return copyPass(context, &context->androidTop, AndroidFileOnly, kCopyCreateHost,
                    AndroidFileNewer, kCopyUpdateHost, pullOne, readPullReply);
}
