// File transfers over the sync connection: SEND pushes one host file in DATA records
// with a DONE time, RECV pulls one device file into a temporary file that replaces
// the target only once the whole file has arrived.
//
// Sections: wire helpers (little-endian records, dropping unwanted bytes), the SEND
// status, pushFile, pullFile.
#include "adb/transfers.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "adb/connection.h"
#include "adb/encodings.h"
#include "adb/hostservices.h"
#include "adb/syncqueries.h"
#include "app/context.h"
#include "hostfs/hostfs.h"
#include "support/errors.h"
#include "sync/filetree.h"
#include "sync/listing.h"
#include "sync/status.h"

namespace {

constexpr uint32_t kRecordHeaderBytes = 8;       // id and 32-bit length
constexpr uint32_t kModeSuffixBytes = 6;         // ",33279"
// A device path whose mode suffix would not fit the request payload is not pushed
// (a request is never cut).
constexpr uint32_t kMaxSendPathBytes = kSyncPayloadBytes - kModeSuffixBytes;
constexpr uint32_t kMessageBytes = kNarrowPathBytes + 64;  // a skipped-path message


// One DATA record, header and file bytes contiguous, so each goes out in one send.
// The pull reads its data pieces into the same buffer.
unsigned char transferBuffer[kRecordHeaderBytes + kDataChunkBytes];

bool sameId(const unsigned char* bytes, const char* id) {
    return std::memcmp(bytes, id, 4) == 0;
}

uint32_t receiveLe32(AdbConnection* conn) {
    unsigned char bytes[4];
    adbReceiveAll(conn, bytes, 4);
    return readLe32(bytes);
}

// Reads the text of a FAIL record whose length is `length`: its first 255 bytes are
// kept, the rest is read and dropped. Raises ERR_ADB_ERROR with the text made safe
// for the console.
[[noreturn]] void raiseFailText(AdbConnection* conn, uint32_t length) {
    char text[kStatusTextBytes];
    uint32_t kept = length < kStatusTextBytes - 1 ? length : kStatusTextBytes - 1;
    adbReceiveAll(conn, text, kept);
    text[kept] = 0;
    adbDiscard(conn, length - kept);
    sanitiseServerText(text);
    raiseErrorText(ERR_ADB_ERROR, text);
}

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

}  // namespace

// ---------------------------------------------------------------------------
// SEND status
// ---------------------------------------------------------------------------

void readSendStatus(SyncContext* context, bool wait) {
    AdbConnection* conn = &context->conn;
    // The device may answer before all DATA is sent (it could not create the file):
    // a pending status is read before each record, without blocking otherwise.
    if (!wait && adbBytesAvailable(conn) == 0) return;
    unsigned char id[4];
    adbReceiveAll(conn, id, 4);
    if (sameId(id, "FAIL")) raiseFailText(conn, receiveLe32(conn));
    if (!sameId(id, "OKAY")) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    // OKAY carries no text in practice; whatever it carries is read and dropped.
    adbDiscard(conn, receiveLe32(conn));
}

// ---------------------------------------------------------------------------
// Push
// ---------------------------------------------------------------------------

bool pushFile(SyncContext* context, FileNode* node) {
    char16_t localPath[kPathChars];
    char remotePath[kNarrowPathBytes];
    if (!hostPath(context, node, localPath) || !devicePath(context, node, remotePath) ||
        std::strlen(remotePath) > kMaxSendPathBytes) {
        reportSkipped(node);
        return true;
    }

    OsFile file = osOpenRead(localPath);
    if (file == kNoFile) {
        osWideToNarrow(localPath, errorText, kErrorTextSize);
        raiseErrorText(ERR_FILE_OPEN, errorText);
    }
    struct FileCloser {
        OsFile file;
        ~FileCloser() { osCloseFile(file); }
    } closer{file};

    int status = node->partner ? UpdatedOnAndroid : CreatedOnAndroid;
    beginCopyLine(context, status, node, node->partner);

    char payload[kSyncPayloadBytes];
    uint32_t pathBytes = static_cast<uint32_t>(std::strlen(remotePath));
    std::memcpy(payload, remotePath, pathBytes);
    payload[pathBytes] = ',';
    std::to_chars_result mode = std::to_chars(payload + pathBytes + 1,
                                              payload + sizeof payload, kPushMode);
    sendSyncRequest(context, "SEND", payload, static_cast<uint32_t>(mode.ptr - payload));

    // The whole 64-bit length: `size` holds only its low 32 bits.
    uint64_t remaining = node->fullSize >= node->size ? node->fullSize : node->size;
    while (remaining > 0) {
        readSendStatus(context, false);
        uint32_t count = remaining < kDataChunkBytes ? static_cast<uint32_t>(remaining)
                                                     : kDataChunkBytes;
        if (!readWhole(file, transferBuffer + kRecordHeaderBytes, count)) return false;
        std::memcpy(transferBuffer, "DATA", 4);
        writeLe32(transferBuffer + 4, count);
        adbSendAll(&context->conn, transferBuffer, kRecordHeaderBytes + count);
        remaining -= count;
    }

    uint32_t seconds = 0;  // stays 0 for a time before 1970
    fileTimeToUnix(node->mtime, &seconds, context->timeRounding);
    unsigned char done[kRecordHeaderBytes];
    std::memcpy(done, "DONE", 4);
    writeLe32(done + 4, seconds);
    adbSendAll(&context->conn, done, sizeof done);

    readSendStatus(context, true);
    endCopyLine(context, status);
    return true;
}

// ---------------------------------------------------------------------------
// Pull
// ---------------------------------------------------------------------------

bool pullFile(SyncContext* context, FileNode* node) {
    AdbConnection* conn = &context->conn;
    char remotePath[kNarrowPathBytes];
    char16_t targetPath[kPathChars];
    bool targetFits = node->status == AndroidFileOnly ? hostPath(context, node, targetPath)
                                                      : altPath(context, node, targetPath);
    if (!devicePath(context, node, remotePath) || !targetFits) {
        reportSkipped(node);
        return true;
    }

    int status = node->partner ? UpdatedOnHost : CreatedOnHost;
    beginCopyLine(context, status, node, node->partner);
    sendSyncRequest(context, "RECV", remotePath, static_cast<uint32_t>(std::strlen(remotePath)));

    // Created at the first DATA record (or at DONE for an empty file), so a RECV that
    // the device refuses leaves neither a file nor new directories behind.
    PullTarget target;
    uint64_t received = 0;
    for (;;) {
        unsigned char id[4];
        adbReceiveAll(conn, id, 4);
        bool known = sameId(id, "DATA") || sameId(id, "DONE") || sameId(id, "FAIL");
        if (!known) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
        uint32_t length = receiveLe32(conn);
        if (sameId(id, "DATA")) {
            if (!target.created) openPullTarget(&target, targetPath);
            // Devices send at most 65536 bytes per record; a longer one is taken in pieces.
            while (length > 0) {
                uint32_t piece = length < kDataChunkBytes ? length : kDataChunkBytes;
                adbReceiveAll(conn, transferBuffer, piece);
                if (!osWriteFile(target.file, transferBuffer, piece)) return false;
                length -= piece;
                received += piece;
            }
        } else if (sameId(id, "DONE")) {
            adbDiscard(conn, length);
            break;
        } else {
            raiseFailText(conn, length);
        }
    }

    // A file whose length is not the one the device listed (a record after DONE of
    // an earlier pull, a cut transfer) must not replace anything.
    if (static_cast<uint32_t>(received) != node->size) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    if (!target.created) openPullTarget(&target, targetPath);
    osSetFileTime(target.file, node->mtime);   // a file without the device time is still whole
    osCloseFile(target.file);
    target.file = kNoFile;
    if (!osRenameFile(target.tempPath, targetPath)) return false;
    target.created = false;
    endCopyLine(context, status);
    return true;
}
