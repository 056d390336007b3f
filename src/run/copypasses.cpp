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
#include "run/keepgoing.h"
#include "run/listing.h"
#include "run/notcopied.h"
#include "run/passstate.h"
#include "run/statusline.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "tree/filetree.h"
#include "tree/status.h"

namespace {

// One write of a push: the SEND request, one DATA record and DONE fit together, so a
// small file goes out in one write.
constexpr uint32_t kBatchBytes =
    kSyncRequestBytes + kSyncHeaderBytes + kDataChunkBytes + kSyncHeaderBytes;
unsigned char batch[kBatchBytes];

// The pull reads its DATA pieces into this buffer.
unsigned char receiveBuffer[kDataChunkBytes];

constexpr char kLinkTarget[] = "Symbolic link, not replaced";
// Reasons of the list at the end (-k).
constexpr char kReasonPathTooLong[] = "path too long";
constexpr char kReasonChanged[] = "file changed while copied";
constexpr char kReasonLink[] = "symbolic link, not replaced";
constexpr char kReasonHostFull[] = "not tried, the host disk is full";

// Reads exactly `count` bytes of the host file; false when it fails or ends early
// (the file shrank since it was read), with the reason in `reason` (kReasonBytes).
bool readWhole(OsFile file, unsigned char* buffer, uint32_t count, char* reason) {
    uint32_t done = 0;
    while (done < count) {
        int64_t got = osReadFile(file, buffer + done, count - done);
        if (got < 0) osLastFileError(reason, kReasonBytes);
        if (got == 0) std::snprintf(reason, kReasonBytes, "%s", kReasonChanged);
        if (got <= 0) return false;
        done += static_cast<uint32_t>(got);
    }
    return true;
}

// A file skipped before it went out: with -k it is also kept for the list.
void keepSkipped(CopyWindow* window, FileNode* node, const char* reason) {
    if (window->context->keepGoing)
        keepNotCopied(window->context, statusOf(window, node), node, reason);
}

// A file copied: the connection is good again.
void retireCopied(CopyWindow* window) {
    retireOldest(window);
    window->context->drops = 0;
}

// -k: the oldest file is not copied: its line (or one of its own) says why, the
// list keeps it, and the window moves on.
void failOldest(CopyWindow* window, const char* reason) {
    InFlightFile* file = oldestFile(window);
    if (file->notTried == nullptr)
        sayNotCopied(window->context, file->node, reason, oldestLineOpen(window));
    keepNotCopied(window->context, file->status, file->node, reason);
    if (passOf(window)->stopToSay) sayStopped(window);
    dropOldest(window);
}

// The oldest push's status. A FAIL raises under its file's line; an OKAY before the
// file's DONE went out answers nothing that was asked.
bool readPushReply(CopyWindow* window) {
    InFlightFile* file = oldestAwaitingReply(window);
    readSendStatus(&window->context->conn);
    if (!file->complete) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    if (file->changed) {
        // Sent whole, but written to meanwhile: the device keeps the listed time, so
        // the next run sends it again.
        keepNotCopied(window->context, file->status, file->node, kReasonChanged);
        retireOldest(window, kFileChanged);
        return true;
    }
    retireCopied(window);
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
        keepSkipped(window, node, kReasonPathTooLong);
        return true;
    }

    uint64_t length = node->size;
    OsFile file = osOpenRead(localPath);
    if (file == kNoFile) {
        char reason[kReasonBytes];
        osLastFileError(reason, sizeof reason);
        if (!drainWindow(window, 0)) return false;
        // A regular file that cannot be opened is an error; one that is gone or became
        // something else (a FIFO, whose open would wait for a writer) changed.
        OsFileStamp found;
        OsFileInfo info;
        if (osPathStamp(localPath, &found) &&
            (found.regular || (found.link && osStatPath(localPath, &info) && !info.isDirectory))) {
            if (!context->keepGoing) raiseErrorWide(ERR_FILE_OPEN, localPath);
            sayNotCopied(context, node, reason, false);
            keepNotCopied(context, pushStatus(node), node, reason);
            return true;
        }
        reportSkipped(node, kFileChanged);
        keepNotCopied(context, pushStatus(node), node, kReasonChanged);
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
        keepNotCopied(context, pushStatus(node), node, kReasonChanged);
        return true;
    }
    int status = pushStatus(node);
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
        if (!readWhole(file, batch + used + kSyncHeaderBytes, count, passOf(window)->hostReason)) {
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

// -k: the oldest pull cannot be written on the host (its reason is the system's):
// the rest of its data is read and dropped, and at its DONE it is listed. A full disk
// stops the pass: the files in flight behind it are read and dropped without a line.
void failOldestPull(CopyWindow* window, bool full) {
    PassState* pass = passOf(window);
    osLastFileError(pass->failure, kReasonBytes);
    discardPullTarget(&pass->target);
    if (!full || pass->stopReason) return;
    pass->stopReason = kReasonHostFull;
    for (uint32_t i = 1; i < window->count; ++i)
        window->files[(window->first + i) % kWindowFiles].notTried = kReasonHostFull;
    pass->stopToSay = true;  // once the oldest's line is ended
}

// Opens the oldest pull's temporary file; with -k a file that cannot be created
// fails the oldest pull instead of the run.
bool openTarget(CopyWindow* window, const char16_t* targetPath) {
    PullTarget* target = &passOf(window)->target;
    if (!window->context->keepGoing) {
        openPullTarget(target, targetPath);
        return true;
    }
    try {
        openPullTarget(target, targetPath);
        return true;
    } catch (const SyncError& error) {
        if (error.code != ERR_DIR_CREATE && error.code != ERR_FILE_CREATE) throw;
        failOldestPull(window, osLastFileErrorIsFull());
        return false;
    }
}

// Gives the whole temporary file its time and puts it in place as its PullPlace
// allows; with -k a late write error or a failed rename fails the oldest pull instead
// of the run.
PlaceCheck replaceTarget(CopyWindow* window, const char16_t* targetPath, uint64_t mtime) {
    PullTarget* target = &passOf(window)->target;
    if (!window->context->keepGoing) return replaceWithPullTarget(target, targetPath, mtime);
    try {
        PlaceCheck placed = replaceWithPullTarget(target, targetPath, mtime);
        if (placed != PlaceCheck::Failed) return placed;
    } catch (const SyncError& error) {
        if (error.code != ERR_FILE_CREATE) throw;
    }
    failOldestPull(window, osLastFileErrorIsFull());
    return PlaceCheck::Failed;
}

// The next record of the oldest pull; at its DONE the file replaces its target. False
// when the host file cannot be written or renamed (with -k the file is listed instead).
bool readPullReply(CopyWindow* window) {
    InFlightFile* file = oldestAwaitingReply(window);
    SyncContext* context = window->context;
    AdbConnection* conn = &context->conn;
    FileNode* node = file->node;
    char16_t targetPath[kPathChars];  // built when needed; it fitted when the RECV went out
    PassState* pass = passOf(window);
    PullTarget* target = &pass->target;
    bool dropping = file->notTried != nullptr || pass->failure[0] != 0;

    uint32_t length = 0;
    if (readRecvRecord(conn, &length)) {
        // Created at the first DATA record (or at DONE for an empty file), so a RECV
        // that the device refuses leaves neither a file nor new directories behind.
        if (context->status.current != node) statusFileBegin(&context->status, node, node->size);
        if (!dropping && !target->created) {
            pullTargetPath(context, node, targetPath);
            describePlace(context, node, &target->place);
            dropping = !openTarget(window, targetPath);
        }
        // Devices send at most 65536 bytes per record; a longer one is taken in pieces.
        while (length > 0) {
            uint32_t piece = length < kDataChunkBytes ? length : kDataChunkBytes;
            adbReceiveAll(conn, receiveBuffer, piece);
            statusBytes(&context->status, piece);
            length -= piece;
            if (dropping || writePullTarget(target, receiveBuffer, piece)) continue;
            if (!context->keepGoing) return false;
            failOldestPull(window, osLastFileErrorIsFull());
            dropping = true;
        }
        return true;
    }

    if (file->notTried != nullptr) {
        keepNotCopied(context, file->status, node, file->notTried);
        dropOldest(window);
        return true;
    }
    if (pass->failure[0] != 0) {
        failOldest(window, pass->failure);
        pass->failure[0] = 0;
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
        keepNotCopied(context, file->status, node, kReasonChanged);
        retireOldest(window, kFileChanged);
        return true;
    }
    pullTargetPath(context, node, targetPath);
    if (!target->created) describePlace(context, node, &target->place);
    PlaceCheck placed = PlaceCheck::Failed;
    if (target->created || openTarget(window, targetPath))
        placed = replaceTarget(window, targetPath, node->mtime);
    if (placed == PlaceCheck::Failed) {
        if (!context->keepGoing) return false;
        failOldest(window, pass->failure);
        pass->failure[0] = 0;
        return true;
    }
    if (placed != PlaceCheck::Fits) {
        // Someone else's file is there now: it stays, and the run goes on.
        discardPullTarget(target);
        bool link = placed == PlaceCheck::Link;
        keepNotCopied(context, file->status, node, link ? kReasonLink : kReasonChanged);
        retireOldest(window, link ? kLinkTarget : kFileChanged);
        return true;
    }
    retireCopied(window);
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
        keepSkipped(window, node, kReasonPathTooLong);
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
        if (check == PlaceCheck::Changed)
            keepNotCopied(context, pullStatus(node), node, kReasonChanged);
        else
            keepSkipped(window, node, kReasonLink);
        return true;
    }
    int status = pullStatus(node);
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
    PassState pass;
    pass.pushing = readReply == readPushReply;
    pass.stopReason = context->goneReason;  // nothing is tried once the device is gone
    pass.stopToSay = false;
    pass.failure[0] = 0;
    pass.hostReason[0] = 0;
    initCopyWindow(&window, context, readReply, &pass);
    for (FileNode* node = top->firstChild; node; node = nextNode(node)) {
        if (!wanted(context, node)) continue;
        if (context->keepGoing)
            copyKeepingOn(&window, node, copy, false);
        else if (!copy(&window, node))
            return false;
    }
    if (context->keepGoing)
        copyKeepingOn(&window, nullptr, copy, true);
    else if (!finishWindow(&window))
        return false;
    if (context->printedAny) context->needBlankLine = 1;
    return true;
}

}  // namespace

bool pushPass(SyncContext* context) {
    return copyPass(context, &context->hostTop, isPushed, pushOne, readPushReply);
}

bool pullPass(SyncContext* context) {
    return copyPass(context, &context->androidTop, isPulled, pullOne, readPullReply);
}
