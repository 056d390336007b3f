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
#include "adb/hostservices.h"
#include "support/encodings.h"
#include "support/errors.h"
#include "support/heap.h"
#include "tree/filetree.h"

namespace {

constexpr uint32_t kIdBytes = 4;
constexpr uint32_t kHeaderBytes = kSyncHeaderBytes;
constexpr uint32_t kStatReplyBytes = 12;  // mode, size, time after "STAT"
constexpr uint32_t kDentFieldBytes = 16;  // mode, size, time, name length after the id
// The v2 records after their id: error, dev, ino, mode, nlink, uid, gid, size, atime,
// mtime, ctime (LST2 reply); DNT2 adds the name length.
constexpr uint32_t kStat2ReplyBytes = 68;
constexpr uint32_t kDent2FieldBytes = 72;
constexpr uint32_t kV2ErrorAt = 0;  // offsets within those fields
constexpr uint32_t kV2ModeAt = 20;
constexpr uint32_t kV2SizeAt = 36;
constexpr uint32_t kV2MtimeAt = 52;
constexpr uint32_t kV2NameLengthAt = 68;
constexpr uint32_t kDeviceNoEntry = 2;  // ENOENT on the device: nothing there
constexpr size_t kErrorNameBytes = 64;  // the longest row text and " (error 4294967295)"

// Device (Linux) error numbers a query may report, with their usual texts.
struct DeviceErrorRow {
    uint32_t number;
    const char* text;
};
constexpr DeviceErrorRow kDeviceErrors[] = {
    {1, "Operation not permitted"},                 // EPERM
    {2, "No such file or directory"},               // ENOENT
    {5, "I/O error"},                               // EIO
    {13, "Permission denied"},                      // EACCES
    {20, "Not a directory"},                        // ENOTDIR
    {36, "File name too long"},                     // ENAMETOOLONG
    {40, "Too many levels of symbolic links"},      // ELOOP
    {75, "Value too large for defined data type"},  // EOVERFLOW
};

// One entry as the device describes it, from a v1 or a v2 record.
struct DeviceEntry {
    uint32_t error;  // the device's errno for this entry; 0 when the fields hold
    uint32_t mode;
    uint64_t size;        // bytes; v1 records carry the low 32 bits only
    int64_t seconds;      // modification time, Unix seconds; 0 = none
    uint32_t nameLength;  // bytes of name that follow (list records)
};
constexpr size_t kMessageBytes = 3 * kNarrowPathBytes;  // a skipped-entry line

bool isDotName(const char* name, uint32_t length) {
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

// True when the name can be one host path component and names exactly the device
// file: not empty, no NUL inside, strictly valid UTF-8 that re-encodes to its own
// bytes (no alias of "..", "." or another name), not "." or "..", and only
// characters the host allows in a name ('/' never; on Windows no '\\', ':' and the like).
bool isHostComponent(const char* name, uint32_t length, const char16_t* wide, bool decoded) {
    if (!decoded || length == 0 || std::memchr(name, 0, length) != nullptr) return false;
    char again[kDentNameBytes];
    utf16ToUtf8(wide, again, sizeof again);
    if (std::strlen(again) != length || std::memcmp(again, name, length) != 0) return false;
    if (isDotName(name, length)) return false;
    for (const char16_t* c = wide; *c != 0; ++c)
        if (!osValidNameChar(*c)) return false;
    return true;
}

// One line on standard error about a device entry that is not taken into the tree.
void reportSkippedEntry(const char16_t* root, const FileNode* directory, const char* name,
                        uint32_t length, const char* reason, std::string* notes) {
    char where[kNarrowPathBytes];
    devicePathNarrow(root, directory, where);  // a shortened form still names it
    sanitiseServerText(where);

    char16_t wide[kPathChars];
    char shown[kNarrowPathBytes];
    char bytes[kDentNameBytes];
    std::memcpy(bytes, name, length);
    sanitiseServerBytes(bytes, length);  // NUL and controls become '?'
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

void describeDeviceError(uint32_t number, char* out) {
    const char* text = "Error";
    for (const DeviceErrorRow& row : kDeviceErrors)
        if (row.number == number) text = row.text;
    std::snprintf(out, kErrorNameBytes, "%s (error %u)", text, static_cast<unsigned>(number));
}

uint64_t readLe64(const unsigned char* bytes) {
    return static_cast<uint64_t>(readLe32(bytes)) | static_cast<uint64_t>(readLe32(bytes + 4))
                                                        << 32;
}

// The fields of a v2 record after its id.
void parseV2Fields(const unsigned char* fields, DeviceEntry* entry) {
    entry->error = readLe32(fields + kV2ErrorAt);
    entry->mode = readLe32(fields + kV2ModeAt);
    entry->size = readLe64(fields + kV2SizeAt);
    entry->seconds = static_cast<int64_t>(readLe64(fields + kV2MtimeAt));
}

// The v1 fields after the id: mode, size and time (32 bits each), as in STAT and DENT.
void parseV1Fields(const unsigned char* fields, DeviceEntry* entry) {
    entry->mode = readLe32(fields);
    entry->size = readLe32(fields + 4);
    entry->seconds = readLe32(fields + 8);
}

// Mode, size and time; a
// time of 0 or one no FILETIME holds leaves `mtime` as it was.
void fillNode(FileNode* node, const DeviceEntry* entry) {
    node->mode = entry->mode;
    node->size = entry->size;
    unixToFileTime64(entry->seconds, &node->mtime);
}

// Reads the reply to STAT (v1) or LST2 (v2) for the path just asked about.
void readStatRecord(AdbConnection* conn, bool v2, DeviceEntry* entry) {
    unsigned char reply[kIdBytes + kStat2ReplyBytes];
    adbReceiveAll(conn, reply, kIdBytes);
    if (std::memcmp(reply, v2 ? "LST2" : "STAT", kIdBytes) != 0)
        raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    *entry = DeviceEntry{};
    if (v2) {
        adbReceiveAll(conn, reply + kIdBytes, kStat2ReplyBytes);
        parseV2Fields(reply + kIdBytes, entry);
        return;
    }
    adbReceiveAll(conn, reply + kIdBytes, kStatReplyBytes);
    parseV1Fields(reply + kIdBytes, entry);
}

// Reads one record of a LIST (DENT) or LIS2 (DNT2) reply up to its name: true for an
// entry, false for the closing DONE.
bool readListRecord(AdbConnection* conn, bool v2, DeviceEntry* entry) {
    unsigned char record[kIdBytes + kDent2FieldBytes];
    adbReceiveAll(conn, record, kIdBytes);
    bool done = std::memcmp(record, "DONE", kIdBytes) == 0;
    if (!done && std::memcmp(record, v2 ? "DNT2" : "DENT", kIdBytes) != 0)
        raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    *entry = DeviceEntry{};
    if (v2) {
        adbReceiveAll(conn, record + kIdBytes, kDent2FieldBytes);
        parseV2Fields(record + kIdBytes, entry);
        entry->nameLength = readLe32(record + kIdBytes + kV2NameLengthAt);
    } else {
        adbReceiveAll(conn, record + kIdBytes, kDentFieldBytes);
        parseV1Fields(record + kIdBytes, entry);
        entry->nameLength = readLe32(record + 16);
    }
    return !done;
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
    uint32_t count = putSyncRequest(request, id, payload, length);
    // Nothing may be waiting before a request that goes out alone: a record after the
    // end of the last reply (after DONE) would be read as part of the next one.
    if (adbBytesAvailable(conn) != 0) raiseError(ERR_ADB_UNKNOWN_RESPONSE);
    adbSendAll(conn, request, count);
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
    uint32_t length = putStatRequest(conn, request, root, node);
    if (length == 0) return false;
    adbSendAll(conn, request, length);
    return readStatReplyIntoNode(conn, root, node);
}

uint32_t putStatRequest(const AdbConnection* conn, unsigned char* out, const char16_t* root,
                        FileNode* node) {
    char path[kNarrowPathBytes];
    // A path that does not fit cannot be asked about: nothing there for this run.
    if (!devicePath(root, node, path)) return 0;
    bool v2 = (conn->features & kFeatureStatV2) != 0;
    return putSyncRequest(out, v2 ? "LST2" : "STAT", path,
                          static_cast<uint32_t>(std::strlen(path)));
}

bool readStatReplyIntoNode(AdbConnection* conn, const char16_t* root, FileNode* node) {
    bool v2 = (conn->features & kFeatureStatV2) != 0;
    DeviceEntry entry;
    readStatRecord(conn, v2, &entry);
    if (entry.error != 0 && entry.error != kDeviceNoEntry) {
        // Anything but "no such entry" is worth a line; the path then counts as absent.
        char shown[kNarrowPathBytes];
        devicePathNarrow(root, node, shown);
        sanitiseServerText(shown);
        char error[kErrorNameBytes];
        describeDeviceError(entry.error, error);
        char message[kMessageBytes];
        std::snprintf(message, sizeof message, "Could not query device path \"%s\": %s", shown,
                      error);
        reportMessage(message);
    }
    if (entry.error != 0 || entry.mode == 0) return false;
    fillNode(node, &entry);
    return true;
}

bool deviceHasMarker(AdbConnection* conn, const char16_t* root, FileNode* directory) {
    if (directory == nullptr) return false;
    MarkerNode marker;
    initMarkerNode(&marker, directory);
    return syncStat(conn, root, &marker.node);
}

const char* deviceNameProblem(const char* name, uint32_t length, char16_t* wide) {
    bool decoded = length < kDentNameBytes && utf8ToUtf16(name, wide, kPathChars);
    if (!isHostComponent(name, length, wide, decoded)) return "not a valid file name";
    if (isPullTempName(wide)) return "a temporary file of an interrupted pull";
    return nullptr;
}

bool syncList(AdbConnection* conn, PrivateHeap* heap, const char16_t* root, FileNode* directory) {
    unsigned char request[kSyncRequestBytes];
    uint32_t length = putListRequest(conn, request, root, directory);
    if (length == 0) return true;
    adbSendAll(conn, request, length);
    readListReply(conn, heap, root, directory, nullptr);
    return true;
}

uint32_t putListRequest(const AdbConnection* conn, unsigned char* out, const char16_t* root,
                        FileNode* directory) {
    char path[kNarrowPathBytes];
    if (!devicePath(root, directory, path)) {
        // Never list a cut path; the directory is read as empty, like an unreadable
        // host directory.
        char shown[kNarrowPathBytes];
        devicePathNarrow(root, directory, shown);
        sanitiseServerText(shown);
        char message[kMessageBytes];
        std::snprintf(message, sizeof message, "Skipped device directory \"%s\": path too long",
                      shown);
        reportMessage(message);
        return 0;
    }
    bool v2 = (conn->features & kFeatureListV2) != 0;
    return putSyncRequest(out, v2 ? "LIS2" : "LIST", path,
                          static_cast<uint32_t>(std::strlen(path)));
}

void readListReply(AdbConnection* conn, PrivateHeap* heap, const char16_t* root,
                   FileNode* directory, std::string* notes) {
    bool v2 = (conn->features & kFeatureListV2) != 0;
    std::vector<FileNode*> children;
    DeviceEntry entry;
    while (readListRecord(conn, v2, &entry)) {
        // Read the whole name; keep at most 255 bytes of it, drop the rest.
        uint32_t length = entry.nameLength;
        char name[kDentNameBytes];
        uint32_t kept = length < kDentNameBytes ? length : kDentNameBytes - 1;
        adbReceiveAll(conn, name, kept);
        adbDiscard(conn, length - kept);
        name[kept] = 0;

        if (isDotName(name, length)) continue;
        if (entry.error != 0) {
            char error[kErrorNameBytes];
            describeDeviceError(entry.error, error);
            reportSkippedEntry(root, directory, name, kept, error, notes);
            continue;
        }
        uint32_t type = entry.mode & kModeTypeMask;
        if (type != kModeFile && type != kModeDirectory) continue;  // links, devices, pipes
        if (length > kept) {
            reportSkippedEntry(root, directory, name, kept, "name longer than 255 bytes", notes);
            continue;
        }
        char16_t wide[kPathChars];
        if (const char* problem = deviceNameProblem(name, length, wide)) {
            reportSkippedEntry(root, directory, name, length, problem, notes);
            continue;
        }

        FileNode* node = static_cast<FileNode*>(heapAlloc(heap, sizeof(FileNode)));
        std::memset(node, 0, sizeof *node);
        node->name = heapDupWide(heap, wide);
        fillNode(node, &entry);  // time 0 leaves mtime at 0
        children.push_back(node);
    }
    adbDiscard(conn, entry.nameLength);  // whatever the DONE record carries
    // One sort for the whole listing instead of one ordered insert per entry.
    insertChildrenSorted(directory, children.data(), children.size());
}

void discardListReply(AdbConnection* conn) {
    bool v2 = (conn->features & kFeatureListV2) != 0;
    DeviceEntry entry;
    while (readListRecord(conn, v2, &entry)) adbDiscard(conn, entry.nameLength);
    adbDiscard(conn, entry.nameLength);
}

bool syncQuit(AdbConnection* conn) {
    sendSyncRequest(conn, "QUIT", nullptr, 0);
    return true;
}
