// File transfers: push one host file to the device (SEND) and pull one device file
// to the host (RECV), each bracketed by its copy line.
#pragma once

struct SyncContext;
struct FileNode;

constexpr unsigned kDataChunkBytes = 65536;   // file data per DATA record
constexpr unsigned kStatusTextBytes = 256;    // SEND status and RECV FAIL texts
constexpr unsigned kPushMode = 33279;         // regular file, permissions 0777

void readSendStatus(SyncContext* context, bool wait);
bool pushFile(SyncContext* context, FileNode* node);
bool pullFile(SyncContext* context, FileNode* node);
