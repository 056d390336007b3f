// The copy passes: two walks over the copy window (run/copywindow.h). A push sends
// the SEND, DATA and DONE of the next files while the statuses of earlier ones are
// outstanding, a pull sends the RECVs of the next files while the earlier ones
// arrive. Replies come in request order and are read as they arrive; copy lines
// appear in pass order, each timed from its file's first request byte. A pull
// receives into a temporary file (hostfs/pulltarget.h) that replaces its target only
// once the whole file has arrived.
#include "run/copypasses.h"

#include <cstdio>
#include <cstring>

#include "adb/connection.h"
#include "adb/syncqueries.h"
#include "adb/transfers.h"
#include "hostfs/hostfs.h"
#include "hostfs/pulltarget.h"
#include "run/context.h"
#include "run/copyplan.h"
#include "run/copywindow.h"
#include "run/listing.h"
#include "run/statusline.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "tree/filetree.h"
#include "tree/status.h"

namespace {

constexpr uint32_t kMessageBytes = kNarrowPathBytes + 64;  // a skipped-path message

// One write of a push: the SEND request, one DATA record and DONE fit together, so a
// small file goes out in one write.
constexpr uint32_t kBatchBytes =
    kSyncRequestBytes + kSyncHeaderBytes + kDataChunkBytes + kSyncHeaderBytes;
unsigned char batch[kBatchBytes];

// The pull reads its DATA pieces into this buffer.
unsigned char receiveBuffer[kDataChunkBytes];

constexpr char kLinkTarget[] = "Symbolic link, not replaced";

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
    InFlightFile* file = oldestAwaitingReply(window);
    readSendStatus(&window->context->conn);
    if (!file->complete) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    if (file->changed) window->context->pushesSkipped += 1;
    retireOldest(window, file->changed ? kFileChanged : nullptr);
    return true;
}

// Sends one file: SEND, its DATA records and DONE, gathered into as few writes as the
// batch buffer allows. False, without DONE, when the host file cannot be read whole.
bool pushOne(CopyWindow* window, FileNode* node) {
    SyncContext* context = window->context;
    char16_t localPath[kPathChars];
    char remotePath[kNarrowPathBytes];
    if (!pushTargets(context, node, localPath, remotePath)) {
        if (!drainWindow(window, 0)) return false;  // the line keeps its place in the pass
        reportSkipped(node, kPathTooLong);
        return true;
    }

    uint64_t length = node->size;
    OsFile file = osOpenRead(localPath);
    if (file == kNoFile) {
        if (!drainWindow(window, 0)) return false;
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
        if (!drainWindow(window, 0)) return false;
        reportSkipped(node, kFileChanged);
        context->pushesSkipped += 1;
        return true;
    }
    int status = node->partner ? UpdatedOnAndroid : CreatedOnAndroid;
    if (!addToWindow(window, node, status, length)) return false;
    InFlightFile* entry = newestFile(window);
    statusFileBegin(&context->status, node, length);
    uint64_t unsent = 0;   // data bytes in the batch, for the progress line
    uint32_t seconds = 0;  // stays 0 for a time before 1970
    fileTimeToUnix(node->mtime, &seconds, context->timeRounding);

    uint32_t used = putSendRequest(batch, remotePath);
    uint64_t remaining = length;
    while (remaining > 0) {
        uint32_t count =
            remaining < kDataChunkBytes ? static_cast<uint32_t>(remaining) : kDataChunkBytes;
        if (used + kSyncHeaderBytes + count > kBatchBytes) {
            if (!sendWithReplies(window, batch, used)) return false;
            statusBytes(&context->status, unsent);
            unsent = 0;
            if (!readArrivedReplies(window)) return false;
            used = 0;
        }
        if (!readWhole(file, batch + used + kSyncHeaderBytes, count)) {
            // The earlier files finish first, so their lines come before this one's.
            drainWindow(window, 1);
            return false;
        }
        putRecordHeader(batch + used, "DATA", count);
        used += kSyncHeaderBytes + count;
        unsent += count;
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
    if (!sendWithReplies(window, batch, used)) return false;
    statusBytes(&context->status, unsent);
    return readArrivedReplies(window);
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
    place->size = listed != nullptr ? listed->size : 0;
    place->mtime = listed != nullptr ? listed->mtime : 0;
    place->foundSet = false;
}

// The next record of the oldest pull; at its DONE the file replaces its target. False
// when the host file cannot be written or renamed.
bool readPullReply(CopyWindow* window) {
    InFlightFile* file = oldestAwaitingReply(window);
    SyncContext* context = window->context;
    AdbConnection* conn = &context->conn;
    FileNode* node = file->node;
    char16_t targetPath[kPathChars];  // built when needed; it fitted when the RECV went out
    PullTarget* target = static_cast<PullTarget*>(window->pass);

    uint32_t length = 0;
    if (readRecvRecord(conn, &length)) {
        // Created at the first DATA record (or at DONE for an empty file), so a RECV
        // that the device refuses leaves neither a file nor new directories behind.
        if (context->status.current != node) statusFileBegin(&context->status, node, node->size);
        if (!target->created) {
            pullTargetPath(context, node, targetPath);
            describePlace(context, node, &target->place);
            openPullTarget(target, targetPath);
        }
        // Devices send at most 65536 bytes per record; a longer one is taken in pieces.
        while (length > 0) {
            uint32_t piece = length < kDataChunkBytes ? length : kDataChunkBytes;
            adbReceiveAll(conn, receiveBuffer, piece);
            if (!writePullTarget(target, receiveBuffer, piece)) return false;
            statusBytes(&context->status, piece);
            length -= piece;
        }
        return true;
    }

    // A file whose length is not the one the device listed changed while it was
    // copied (a recording, a download): it replaces nothing, and the run goes on.
    // v1 listings carry only the low 32 bits of a size.
    bool wideSizes = (conn->features & kFeatureListV2) != 0;
    bool whole = wideSizes ? target->written == node->size
                           : sizeLow32(target->written) == sizeLow32(node->size);
    if (!whole) {
        discardPullTarget(target);
        context->pullsSkipped += 1;
        retireOldest(window, kFileChanged);
        return true;
    }
    pullTargetPath(context, node, targetPath);
    if (!target->created) {
        describePlace(context, node, &target->place);
        openPullTarget(target, targetPath);
    }
    PlaceCheck placed = replaceWithPullTarget(target, targetPath, node->mtime);
    if (placed == PlaceCheck::Failed) return false;
    if (placed != PlaceCheck::Fits) {
        // Someone else's file is there now: it stays, and the run goes on.
        discardPullTarget(target);
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
    if (!pullTargets(context, node, remotePath, targetPath)) {
        if (!drainWindow(window, 0)) return false;
        reportSkipped(node, kPathTooLong);
        return true;
    }
    // A link is never replaced, and a file that changed since it was listed is not
    // asked for at all.
    PullPlace place;
    describePlace(context, node, &place);
    PlaceCheck check = checkPullPlace(&place, targetPath);
    if (check != PlaceCheck::Fits) {
        if (!drainWindow(window, 0)) return false;
        reportSkipped(node, check == PlaceCheck::Link ? kLinkTarget : kFileChanged);
        if (check == PlaceCheck::Changed) context->pullsSkipped += 1;
        return true;
    }
    int status = node->partner ? UpdatedOnHost : CreatedOnHost;
    if (!addToWindow(window, node, status, node->size)) return false;
    unsigned char request[kSyncRequestBytes];
    uint32_t used = putRecvRequest(request, remotePath);
    return sendWithReplies(window, request, used) && readArrivedReplies(window);
}

// One pass over a tree in pre-order: copies the files `wanted` picks.
bool copyPass(SyncContext* context, FileNode* top,
              bool (*wanted)(const SyncContext*, const FileNode*),
              bool (*copy)(CopyWindow*, FileNode*), bool (*readReply)(CopyWindow*)) {
    context->printedAny = 0;
    CopyWindow window;
    PullTarget target;  // the oldest pull's temporary file
    initCopyWindow(&window, context, readReply, &target);
    for (FileNode* node = top->firstChild; node; node = nextNode(node)) {
        if (wanted(context, node) && !copy(&window, node)) return false;
    }
    if (!finishWindow(&window)) return false;
    if (context->printedAny) context->needBlankLine = 1;
    return true;
}

}  // namespace

void reportSkipped(const FileNode* node, const char* reason) {
    char path[kNarrowPathBytes];
    displayPath(node, path);
    char line[kMessageBytes];
    int length = std::snprintf(line, sizeof line, "%s: %s%s", reason, path, osLineEnd());
    if (length > 0) osWriteStdout(line, std::strlen(line));
}

bool pushPass(SyncContext* context) {
    return copyPass(context, &context->hostTop, isPushed, pushOne, readPushReply);
}

bool pullPass(SyncContext* context) {
    return copyPass(context, &context->androidTop, isPulled, pullOne, readPullReply);
}
