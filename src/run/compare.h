// Tree comparison: reads both trees as it descends, pairs children by name, gives
// every node its status and counts it, with the marker file and the time rule.
// Raise: compareTrees and classifyChildren (through the device and host reads they
// make). setStatus, classifyFilePair, compareTimes and hostHasMarker never raise.
#pragma once

#include <cstdint>

struct SyncContext;
struct FileNode;

void setStatus(SyncContext* context, FileNode* host, FileNode* device, int status);
// Compares a directory pair (either may be null): marker tests, both reads, then
// classifyChildren.
void compareTrees(SyncContext* context, FileNode* host, FileNode* device);
// The merge of two child lists that are already read and in name order: numbers the
// merged positions in `order`, classifies every child and descends where the
// options allow.
void classifyChildren(SyncContext* context, FileNode* host, FileNode* device);
void classifyFilePair(SyncContext* context, FileNode* host, FileNode* device);
// -1, 0 or 1 (host older, same, newer) on Unix seconds under `rounding`; times after
// 2106 saturate rather than wrap.
int compareTimes(uint64_t hostTime, uint64_t deviceTime, uint32_t rounding, bool oneHourSame);
bool hostHasMarker(SyncContext* context, FileNode* directory);
