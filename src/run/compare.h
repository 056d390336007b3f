// Tree comparison: reads both trees as it descends, pairs children by name, gives
// every node its status and counts it, with the marker file and the time rule.
// Raise: compareTrees, compareRoots, checkRoot and classifyChildren (through the device
// and host reads they make). setStatus, classifyFilePair, compareTimes and hostHasMarker never raise.
#pragma once

#include <cstdint>

struct SyncContext;
struct FileNode;

void setStatus(SyncContext* context, FileNode* host, FileNode* device, int status);
// Compares a directory pair (either may be null) within a walk, with the requests in
// flight of `context->lookahead` (compareRoots starts the run's walk): marker tests,
// both reads, then classifyChildren.
void compareTrees(SyncContext* context, FileNode* host, FileNode* device);
// The run's comparison: checks the device root with a STAT (raising like checkRoot),
// whose reply the root's own requests do not wait for, then compares the two roots.
void compareRoots(SyncContext* context);
// Raises ERR_ROOT_MISSING or ERR_ROOT_NOT_DIRECTORY, naming `shown`, unless the root
// exists and is a directory.
void checkRoot(bool exists, const FileNode* top, const char* shown);
// The merge of two child lists that are already read and in name order: numbers the
// merged positions in `order`, classifies every child and descends where the
// options allow.
void classifyChildren(SyncContext* context, FileNode* host, FileNode* device);
void classifyFilePair(SyncContext* context, FileNode* host, FileNode* device);
// -1, 0 or 1 (host older, same, newer) on Unix seconds under `rounding`; times after
// 2106 saturate rather than wrap.
int compareTimes(uint64_t hostTime, uint64_t deviceTime, uint32_t rounding, bool oneHourSame);
bool hostHasMarker(SyncContext* context, FileNode* directory);
