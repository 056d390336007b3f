// File sync queries: the request header shared by every sync request, STAT and LIST
// into the device tree (each as a request and its reply), and QUIT.
// Raise: every request and reply here raises on a connection fault (ERR_ADB_SEND,
// ERR_ADB_NO_RESPONSE) and on a reply of the wrong id (ERR_ADB_UNKNOWN_RESPONSE);
// readListReply also when the heap is full. readLe32 and writeLe32 never raise.
#pragma once

#include <cstdint>
#include <string>

struct AdbConnection;
struct PrivateHeap;
struct FileNode;

// Request payload buffer: a device path of up to 1023 bytes, and room for SEND's
// ",33279" behind it, so no request ever has to be cut.
constexpr uint32_t kSyncPayloadBytes = 1040;
constexpr uint32_t kDentNameBytes = 256;  // DENT names of up to 255 bytes
constexpr uint32_t kSyncHeaderBytes = 8;  // id and 32-bit length of every record
constexpr uint32_t kSyncRequestBytes = kSyncHeaderBytes + kSyncPayloadBytes;

// Sends one request: id, 32-bit little-endian length, payload, in one write. A
// payload above kSyncPayloadBytes is never sent cut: it raises ERR_ADB_SEND.
void sendSyncRequest(AdbConnection* conn, const char* id, const void* payload, uint32_t length);
// The same request written to `out` (room for kSyncRequestBytes); returns its size.
uint32_t putSyncRequest(unsigned char* out, const char* id, const void* payload, uint32_t length);
uint32_t readLe32(const unsigned char* bytes);
void writeLe32(unsigned char* bytes, uint32_t value);

// STAT in two halves, for requests sent ahead of their replies: the request written
// to `out` (room for kSyncRequestBytes; 0 when the node's device path does not fit:
// nothing is there for this run) and the reply.
uint32_t putStatRequest(const AdbConnection* conn, unsigned char* out, const char16_t* root,
                        FileNode* node);
// Reads the reply into the node; an error other than "no such entry" is said in one
// line (the path then counts as absent), or kept in `notes` when given (see
// readListReply). False when nothing is there (mode 0).
bool readStatReplyIntoNode(AdbConnection* conn, const char16_t* root, FileNode* node,
                           std::string* notes = nullptr);
// Decodes a listed name of `length` bytes into `wide` (kPathChars units): null when
// it can become a node, else why it is skipped.
const char* deviceNameProblem(const char* name, uint32_t length, char16_t* wide);
// What tells a listed directory from the others, so a walk can see one that lists
// itself (a bind mount, a lying device): the device and inode numbers of its "."
// record in a v2 listing; where there are none (v1, or zeros) a digest of every
// record of the listing, "." and ".." included.
struct DeviceDirId {
    bool inode;  // volume and file are device and inode numbers, else file is a digest
    uint64_t volume;
    uint64_t file;
};
// LIST in two halves. The request is written to `out` (0, with the line about it,
// when the path does not fit; the directory then reads as empty). The reply reads an
// empty directory node's entries into ordered children. It skips ".", "..", entries
// that are neither files nor directories, and (with a line) names longer than 255
// bytes, names that are not one host path component (on Windows also names it would
// change, see isWindowsChangedName), and every record of a name after its first (on
// Windows: equal without regard to case). Those lines go to `notes` when it is given,
// to standard error otherwise, so a reply read ahead of the walk can say them when the
// walk gets there. The directory's identity goes to `id` when it is given.
uint32_t putListRequest(const AdbConnection* conn, unsigned char* out, const char16_t* root,
                        FileNode* directory, std::string* notes = nullptr);
void readListReply(AdbConnection* conn, PrivateHeap* heap, const char16_t* root,
                   FileNode* directory, std::string* notes, DeviceDirId* id = nullptr);
// Reads a LIST reply to its end and keeps nothing of it.
void discardListReply(AdbConnection* conn);
// QUIT, then the connection is read until the device closes it: a byte before the
// close answers nothing that was asked and raises ERR_ADB_UNKNOWN_RESPONSE.
bool syncQuit(AdbConnection* conn);
