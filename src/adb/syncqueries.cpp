// File sync queries over the connection in sync mode: the request header shared by
// every sync request, STAT, the device marker test, LIST into the device tree, QUIT.
//
// Every device reply is untrusted: ids are checked, each announced byte is read (and
// dropped when it does not fit), and no entry name can become a node that is not
// exactly one host path component.
#include "adb/syncqueries.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "adb/connection.h"
#include "support/encodings.h"
#include "adb/hostservices.h"
#include "support/errors.h"
#include "support/heap.h"
#include "tree/filetree.h"

namespace {

constexpr uint32_t kIdBytes = 4;
constexpr uint32_t kHeaderBytes = kSyncHeaderBytes;
constexpr uint32_t kStatReplyBytes = 12;      // mode, size, time after "STAT"
constexpr uint32_t kDentFieldBytes = 16;      // mode, size, time, name length after the id
constexpr size_t kMessageBytes = 3 * kNarrowPathBytes;  // a skipped-entry line

bool isDotName(const char* name, uint32_t length) {
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

// True when the name can be one host path component: not empty, no NUL inside
// (the device would name another file than the one shown), and only characters
// the host allows in a name ('/' never; on Windows no '\\', ':' and the like).
bool isHostComponent(const char* name, uint32_t length, const char16_t* wide) {
    if (length == 0 || std::memchr(name, 0, length) != nullptr) return false;
    for (const char16_t* c = wide; *c != 0; ++c)
        if (!osValidNameChar(*c)) return false;
    return true;
}

// One line on standard error about a device entry that is not taken into the tree.
void reportSkippedEntry(const char16_t* root, const FileNode* directory,
                        const char* name, uint32_t length, const char* reason,
                        std::string* notes) {
    char where[kNarrowPathBytes];
    devicePathNarrow(root, directory, where);   // a shortened form still names it
    sanitiseServerText(where);

    char16_t wide[kPathChars];
    char shown[kNarrowPathBytes];
    char bytes[kDentNameBytes];
    std::memcpy(bytes, name, length);
    sanitiseServerBytes(bytes, length);             // NUL and controls become '?'
    utf8ToUtf16(bytes, wide, kPathChars);
    osWideToNarrow(wide, shown, sizeof shown);

    char message[kMessageBytes];
    std::snprintf(message, sizeof message, "Skipped device entry \"%s\" in \"%s\": %s", shown,
                  where, reason);
    if (notes == nullptr) {
        reportMessage(message);
        return;
    }
    notes->append(message);
    notes->push_back('\n');
}

}  // namespace

uint32_t putSyncRequest(unsigned char* out, const char* id, const void* payload, uint32_t length) {
    // A request is never sent cut: a shorter path would name another file.
    if (length > kSyncPayloadBytes) raiseError(ERR_ADB_SEND);
    std::memcpy(out, id, kIdBytes);
    writeLe32(out + kIdBytes, length);
    if (length > 0) std::memcpy(out + kHeaderBytes, payload, length);
    return kHeaderBytes + length;
}

void sendSyncRequest(AdbConnection* conn, const char* id, const void* payload, uint32_t length) {
    unsigned char request[kSyncRequestBytes];
    adbSendAll(conn, request, putSyncRequest(request, id, payload, length));
}

uint32_t readLe32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void writeLe32(unsigned char* bytes, uint32_t value) {
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

bool syncStat(AdbConnection* conn, const char16_t* root, FileNode* node) {
    unsigned char request[kSyncRequestBytes];
    uint32_t length = putStatRequest(request, root, node);
    if (length == 0) return false;
    adbSendAll(conn, request, length);
    return readStatReply(conn, node);
}

uint32_t putStatRequest(unsigned char* out, const char16_t* root, FileNode* node) {
    char path[kNarrowPathBytes];
    // A path that does not fit cannot be asked about: nothing there for this run.
    if (!devicePath(root, node, path)) return 0;
    return putSyncRequest(out, "STAT", path, static_cast<uint32_t>(std::strlen(path)));
}

bool readStatReply(AdbConnection* conn, FileNode* node) {
    unsigned char reply[kIdBytes + kStatReplyBytes];
    adbReceiveAll(conn, reply, kIdBytes);
    if (std::memcmp(reply, "STAT", kIdBytes) != 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    adbReceiveAll(conn, reply + kIdBytes, kStatReplyBytes);
    uint32_t mode = readLe32(reply + 4);
    if (mode == 0) return false;
    node->mode = mode;
    node->size = readLe32(reply + 8);
    unixToFileTime(readLe32(reply + 12), &node->mtime);   // time 0 leaves mtime as it was
    return true;
}

bool deviceHasMarker(AdbConnection* conn, const char16_t* root, FileNode* directory) {
    if (directory == nullptr) return false;
    MarkerNode marker;
    initMarkerNode(&marker, directory);
    return syncStat(conn, root, &marker.node);
}

bool syncList(AdbConnection* conn, PrivateHeap* heap, const char16_t* root, FileNode* directory) {
    unsigned char request[kSyncRequestBytes];
    uint32_t length = putListRequest(request, root, directory);
    if (length == 0) return true;
    adbSendAll(conn, request, length);
    readListReply(conn, heap, root, directory, nullptr);
    return true;
}

uint32_t putListRequest(unsigned char* out, const char16_t* root, FileNode* directory) {
    char path[kNarrowPathBytes];
    if (!devicePath(root, directory, path)) {
        // Never list a cut path; the directory is read as empty, like an unreadable
        // host directory.
        char shown[kNarrowPathBytes];
        devicePathNarrow(root, directory, shown);
        sanitiseServerText(shown);
        char message[kMessageBytes];
        std::snprintf(message, sizeof message,
                      "Skipped device directory \"%s\": path too long", shown);
        reportMessage(message);
        return 0;
    }
    return putSyncRequest(out, "LIST", path, static_cast<uint32_t>(std::strlen(path)));
}

void readListReply(AdbConnection* conn, PrivateHeap* heap, const char16_t* root,
                   FileNode* directory, std::string* notes) {
    std::vector<FileNode*> children;
    for (;;) {
        unsigned char record[kIdBytes + kDentFieldBytes];
        adbReceiveAll(conn, record, kIdBytes);
        bool done = std::memcmp(record, "DONE", kIdBytes) == 0;
        if (!done && std::memcmp(record, "DENT", kIdBytes) != 0)
            raiseError(ERR_ADB_UNKNOWN_RESPONSE);
        adbReceiveAll(conn, record + kIdBytes, kDentFieldBytes);
        uint32_t mode = readLe32(record + 4);
        uint32_t size = readLe32(record + 8);
        uint32_t time = readLe32(record + 12);
        uint32_t length = readLe32(record + 16);
        if (done) {
            adbDiscard(conn, length);
            break;
        }

        // Read the whole name; keep at most 255 bytes of it, drop the rest.
        char name[kDentNameBytes];
        uint32_t kept = length < kDentNameBytes ? length : kDentNameBytes - 1;
        adbReceiveAll(conn, name, kept);
        adbDiscard(conn, length - kept);
        name[kept] = 0;

        uint32_t type = mode & kModeTypeMask;
        if (type != kModeFile && type != kModeDirectory) continue;  // links, devices, pipes
        if (isDotName(name, length)) continue;
        if (length > kept) {
            reportSkippedEntry(root, directory, name, kept, "name longer than 255 bytes", notes);
            continue;
        }
        char16_t wide[kPathChars];
        utf8ToUtf16(name, wide, kPathChars);
        if (!isHostComponent(name, length, wide)) {
            reportSkippedEntry(root, directory, name, length, "not a valid file name", notes);
            continue;
        }

        FileNode* node = static_cast<FileNode*>(heapAlloc(heap, sizeof(FileNode)));
        std::memset(node, 0, sizeof *node);
        node->name = heapDupWide(heap, wide);
        node->mode = mode;
        node->size = size;
        unixToFileTime(time, &node->mtime);   // time 0 leaves mtime at 0
        children.push_back(node);
    }
    // One sort for the whole listing instead of one ordered insert per entry.
    insertChildrenSorted(directory, children.data(), children.size());
}

bool syncQuit(AdbConnection* conn) {
    sendSyncRequest(conn, "QUIT", nullptr, 0);
    return true;
}
