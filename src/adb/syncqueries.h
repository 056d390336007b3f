// File sync queries: the request header shared by every sync request, STAT, LIST
// into the device tree, the device marker test, and QUIT.
// Raise: every request and reply here raises on a connection fault (ERR_ADB_SEND,
// ERR_ADB_NO_RESPONSE) and on a reply of the wrong id (ERR_ADB_UNKNOWN_RESPONSE);
// syncList also when the heap is full. readLe32 and writeLe32 never raise.
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

// False when nothing is there (mode 0) or the node's device path does not fit.
bool syncStat(AdbConnection* conn, const char16_t* root, FileNode* node);
// syncStat in two halves, for requests sent ahead of their replies: the request
// written to `out` (room for kSyncRequestBytes; 0 when the path does not fit) and
// the reply.
uint32_t putStatRequest(const AdbConnection* conn, unsigned char* out, const char16_t* root,
                        FileNode* node);
// Reads the reply into the node; an error other than "no such entry" is said in one
// line (the path then counts as absent). False when nothing is there.
bool readStatReplyIntoNode(AdbConnection* conn, const char16_t* root, FileNode* node);
// False for a null directory, without sending anything.
bool deviceHasMarker(AdbConnection* conn, const char16_t* root, FileNode* directory);
// Reads an empty directory node's entries into ordered children. Skips ".", "..",
// entries that are neither files nor directories, and (with a line on standard
// error) names longer than 255 bytes or that are not one host path component.
// Decodes a listed name of `length` bytes into `wide` (kPathChars units): null when
// it can become a node, else why it is skipped.
const char* deviceNameProblem(const char* name, uint32_t length, char16_t* wide);
bool syncList(AdbConnection* conn, PrivateHeap* heap, const char16_t* root, FileNode* directory);
// syncList in two halves. The request is written to `out` (0, with the line about
// it, when the path does not fit; the directory then reads as empty). The reply's lines
// about skipped entries go to `notes` when it is given, to standard error otherwise,
// so a reply read ahead of the walk can say them when the walk gets there.
uint32_t putListRequest(const AdbConnection* conn, unsigned char* out, const char16_t* root,
                        FileNode* directory);
void readListReply(AdbConnection* conn, PrivateHeap* heap, const char16_t* root,
                   FileNode* directory, std::string* notes);
// Reads a LIST reply to its end and keeps nothing of it.
void discardListReply(AdbConnection* conn);
bool syncQuit(AdbConnection* conn);
