// Console output about the comparison: listing lines in fixed columns, the timed
// copy lines, the one-sided blocks, the merged listing and the summary.
#pragma once

#include <cstdint>

struct SyncContext;
struct FileNode;

constexpr unsigned kLineChars = 1024;      // a listing line
constexpr unsigned kNumberChars = 14;      // formatThousands text and terminator

void formatThousands(uint32_t value, char* out);
// Sizes and differences of 4 GiB and more are shown whole (wider than the columns).
void formatThousands64(uint64_t value, char* out);
void formatSizeDiff(int64_t difference, char* out);
void formatTimeDiff(uint64_t difference, char* out);
void writeListLine(SyncContext* context, int status, const FileNode* node,
                   const FileNode* partner, bool endLine);
void beginCopyLine(SyncContext* context, int status, const FileNode* node, const FileNode* partner);
void endCopyLine(SyncContext* context, int status);
void listResults(SyncContext* context);
void printSummary(SyncContext* context);
