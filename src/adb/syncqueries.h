// File sync queries: the request header shared by every sync request, STAT, LIST
// into the device tree, the device marker test, and QUIT.
#pragma once

#include <cstdint>

struct SyncContext;
struct FileNode;

constexpr uint32_t kSyncPayloadBytes = 1024;  // request payload buffer
constexpr uint32_t kDentNameBytes = 256;      // DENT names of up to 255 bytes

// Sends one request: id, 32-bit little-endian length, payload, in one write.
void sendSyncRequest(SyncContext* context, const char* id, const void* payload, uint32_t length);
uint32_t readLe32(const unsigned char* bytes);
void writeLe32(unsigned char* bytes, uint32_t value);

bool syncStat(SyncContext* context, FileNode* node);
bool deviceHasMarker(SyncContext* context, FileNode* directory);
bool syncList(SyncContext* context, FileNode* directory);
bool syncQuit(SyncContext* context);
