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

// A node whose path does not fit its buffer is not copied: a cut path would name
// another file. One line on standard output says so and the run goes on.
void reportSkipped(const FileNode* node) {
    char path[kNarrowPathBytes];
    displayPath(node, path);
    char line[kMessageBytes];
    int length = std::snprintf(line, sizeof line, "Path too long, not copied: %s%s", path,
                               osLineEnd());
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
        created = false;
    }
    ~PullTarget() { discard(); }
};

void openPullTarget(PullTarget* target, const char16_t* path) {
    target->file = createHostTempFile(path, target->tempPath);
    target->created = true;
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
        reportSkipped(node);
        return true;
    }

    OsFile file = osOpenRead(localPath);
    if (file == kNoFile) raiseErrorWide(ERR_FILE_OPEN, localPath);
    struct FileCloser {
        OsFile file;
        ~FileCloser() { osCloseFile(file); }
    } closer{file};

    int status = node->partner ? UpdatedOnAndroid : CreatedOnAndroid;
    beginCopyLine(context, status, node, node->partner);
    uint32_t seconds = 0;  // stays 0 for a time before 1970
    fileTimeToUnix(node->mtime, &seconds, context->timeRounding);
    // The whole 64-bit length: `size` holds only its low 32 bits.
    uint64_t length = node->fullSize >= node->size ? node->fullSize : node->size;
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
        !hostPath(targetRoot, node, targetPath)) {
        reportSkipped(node);
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

    // A file whose length is not the one the device listed (a record after DONE of
    // an earlier pull, a cut transfer) must not replace anything. v1 listings carry
    // only the low 32 bits of a size.
    bool wideSizes = (conn->features & kFeatureListV2) != 0;
    if (wideSizes ? received != node->fullSize : static_cast<uint32_t>(received) != node->size)
        raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    if (!target.created) openPullTarget(&target, targetPath);
    osSetFileTime(target.file, node->mtime);   // a file without the device time is still whole
    osCloseFile(target.file);
    target.file = kNoFile;
    if (!osRenameFile(target.tempPath, targetPath)) return false;
    target.created = false;
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
