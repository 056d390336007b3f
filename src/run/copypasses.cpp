// The copy passes. A push sends one host file with SEND; a pull receives one device
// file into a temporary file beside its target that replaces the target only once
// the whole file has arrived, so a failed or interrupted pull keeps the old file.
#include "run/copypasses.h"

#include <cstdio>
#include <cstring>

#include "adb/connection.h"
#include "adb/transfers.h"
#include "hostfs/hostfs.h"
#include "run/context.h"
#include "run/listing.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "tree/filetree.h"
#include "tree/status.h"

namespace {

constexpr uint32_t kMessageBytes = kNarrowPathBytes + 64;  // a skipped-path message

// The pull reads its DATA pieces into this buffer.
unsigned char receiveBuffer[kDataChunkBytes];

constexpr char kPathTooLong[] = "Path too long, not copied";
constexpr char kFileChanged[] = "File changed while copied, not copied";

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
    target->file = createHostTempFile(path, target->tempPath);
    target->created = true;
    osSetInterruptCleanup(target->tempPath, target->file);   // Ctrl-C removes it too
}

// Closes the whole temporary file, gives it the permissions of the file it replaces,
// and renames it over the target. False when the close reports a late write error.
// Raises ERR_FILE_CREATE with the target when the rename fails (a directory there).
bool replaceTarget(PullTarget* target, const char16_t* targetPath) {
    bool closed = osCloseFile(target->file);
    target->file = kNoFile;
    if (!closed) return false;
    OsFileInfo old;
    if (osStatPath(targetPath, &old) && !old.isDirectory)
        osCopyPermissions(targetPath, target->tempPath);
    if (!osRenameFile(target->tempPath, targetPath)) raiseErrorWide(ERR_FILE_CREATE, targetPath);
    target->created = false;
    osSetInterruptCleanup(nullptr, kNoFile);
    return true;
}

// One pass over a tree in pre-order: copies the files whose status is `onlyStatus`
// (with `createFlag`) or `newerStatus` (with `updateFlag`).
bool copyPass(SyncContext* context, FileNode* top, int onlyStatus, uint32_t createFlag,
              int newerStatus, uint32_t updateFlag, bool (*copy)(SyncContext*, FileNode*)) {
    context->printedAny = 0;
    for (FileNode* node = top->firstChild; node; node = nextNode(node)) {
        bool wanted = (node->status == onlyStatus && (context->copyFlags & createFlag)) ||
                      (node->status == newerStatus && (context->copyFlags & updateFlag));
        if (wanted && !copy(context, node)) return false;
    }
    if (context->printedAny) context->needBlankLine = 1;
    return true;
}

}  // namespace

bool pushFile(SyncContext* context, FileNode* node) {
    char16_t localPath[kPathChars];
    char remotePath[kNarrowPathBytes];
    if (!hostPath(context->hostRoot, node, localPath) ||
        !devicePath(context->androidRoot, node, remotePath) ||
        std::strlen(remotePath) > kMaxSendPathBytes) {
        reportSkipped(node, kPathTooLong);
        return true;
    }

    // The whole 64-bit length: `size` holds only its low 32 bits.
    uint64_t length = node->fullSize >= node->size ? node->fullSize : node->size;
    OsFile file = osOpenRead(localPath);
    OsFileInfo info;
    if (file == kNoFile && !osStatPath(localPath, &info)) {   // gone since it was listed
        reportSkipped(node, kFileChanged);
        context->pushesSkipped += 1;
        return true;
    }
    if (file == kNoFile) raiseErrorWide(ERR_FILE_OPEN, localPath);
    struct FileCloser {
        OsFile file;
        ~FileCloser() { osCloseFile(file); }
    } closer{file};
    uint64_t openedSize = 0;
    if (!osFileSize(file, &openedSize) || openedSize != length) {
        reportSkipped(node, kFileChanged);
        context->pushesSkipped += 1;
        return true;
    }

    int status = node->partner ? UpdatedOnAndroid : CreatedOnAndroid;
    beginCopyLine(context, status, node, node->partner);
    uint32_t seconds = 0;  // stays 0 for a time before 1970
    fileTimeToUnix(node->mtime, &seconds, context->timeRounding);
    if (!sendFileRecords(&context->conn, remotePath, file, length, seconds)) return false;
    readSendStatus(&context->conn, true);
    endCopyLine(context, status);
    return true;
}

bool pullFile(SyncContext* context, FileNode* node) {
    AdbConnection* conn = &context->conn;
    char remotePath[kNarrowPathBytes];
    char16_t targetPath[kPathChars];
    const char16_t* targetRoot = node->status == AndroidFileOnly ? context->hostRoot
                                                                 : context->altRoot;
    if (!devicePath(context->androidRoot, node, remotePath) ||
        !hostPath(targetRoot, node, targetPath) || !hostTempPathFits(targetPath)) {
        reportSkipped(node, kPathTooLong);
        return true;
    }

    int status = node->partner ? UpdatedOnHost : CreatedOnHost;
    beginCopyLine(context, status, node, node->partner);
    sendRecvRequest(conn, remotePath);

    // Created at the first DATA record (or at DONE for an empty file), so a RECV that
    // the device refuses leaves neither a file nor new directories behind.
    PullTarget target;
    uint64_t received = 0;
    uint32_t length = 0;
    while (readRecvRecord(conn, &length)) {
        if (!target.created) openPullTarget(&target, targetPath);
        // Devices send at most 65536 bytes per record; a longer one is taken in pieces.
        while (length > 0) {
            uint32_t piece = length < kDataChunkBytes ? length : kDataChunkBytes;
            adbReceiveAll(conn, receiveBuffer, piece);
            if (!osWriteFile(target.file, receiveBuffer, piece)) return false;
            length -= piece;
            received += piece;
        }
    }

    // A file whose length is not the one the device listed changed while it was
    // copied (a recording, a download): it replaces nothing, and the run goes on.
    // v1 listings carry only the low 32 bits of a size.
    bool wideSizes = (conn->features & kFeatureListV2) != 0;
    if (wideSizes ? received != node->fullSize : static_cast<uint32_t>(received) != node->size) {
        target.discard();
        abandonCopyLine(context, status, node, kFileChanged);
        context->pullsSkipped += 1;
        return true;
    }
    if (!target.created) openPullTarget(&target, targetPath);
    osSetFileTime(target.file, node->mtime);   // a file without the device time is still whole
    if (!replaceTarget(&target, targetPath)) return false;
    endCopyLine(context, status);
    return true;
}

bool pushPass(SyncContext* context) {
    return copyPass(context, &context->hostTop, HostFileOnly, kCopyCreateAndroid, HostFileNewer,
                    kCopyUpdateAndroid, pushFile);
}

bool pullPass(SyncContext* context) {
    return copyPass(context, &context->androidTop, AndroidFileOnly, kCopyCreateHost,
                    AndroidFileNewer, kCopyUpdateHost, pullFile);
}
