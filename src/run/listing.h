// Console output about the comparison: listing lines in fixed columns, the timed
// copy lines, the one-sided blocks, the merged listing and the summary.
// Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>

struct SyncContext;
struct FileNode;

// A listing line. Room for the longest display path (1023 bytes) with every
// column and both differences, so a path is never cut from a line.
constexpr unsigned kLineChars = 2048;
constexpr unsigned kSummaryChars = 1024;   // a summary line
constexpr unsigned kNumberChars = 14;      // formatThousands text and terminator
constexpr unsigned kWideNumberChars = 27;  // formatThousands64 text and terminator
constexpr unsigned kSizeDiffChars = 32;    // formatSizeDiff text and terminator
constexpr unsigned kTimeDiffChars = 16;    // formatTimeDiff text and terminator
constexpr unsigned kTimeTextChars = 256;   // the time column's output limit

void formatThousands(uint32_t value, char* out);
// Sizes and differences of 4 GiB and more are shown whole (wider than the columns).
void formatThousands64(uint64_t value, char* out);
void formatSizeDiff(int64_t difference, char* out);  // not used by the run
void formatTimeDiff(uint64_t difference, char* out);
// Elapsed time of `ticks` counter ticks in 100 ns units, without overflow on the
// way (saturated when the result itself does not fit); 0 for a zero frequency.
uint64_t copyElapsed(uint64_t ticks, uint64_t frequency);
void writeListLine(SyncContext* context, int status, const FileNode* node, const FileNode* partner,
                   bool endLine);
void beginCopyLine(SyncContext* context, int status, const FileNode* node, const FileNode* partner);
void endCopyLine(SyncContext* context, int status);
// What a dry run shows in place of a copy's duration.
constexpr char kDryRunMark[] = "dry run";
// The copy line a copy would write, whole, with kDryRunMark in place of the duration;
// not counted, since nothing was copied.
void writeDryCopyLine(SyncContext* context, int status, const FileNode* node,
                      const FileNode* partner);
// Why a file is not copied: its paths do not fit (a cut path would name another
// file), or it changed since it was listed.
constexpr char kPathTooLong[] = "Path too long, not copied";
constexpr char kFileChanged[] = "File changed while copied, not copied";

// One line on standard output, "reason: path", for a file that is not copied.
void reportSkipped(const FileNode* node, const char* reason);
// Ends a copy that did not happen with `reason` in place of the duration (uncounted);
// when the copy line is not listed, one line "reason: path" stands for it.
void abandonCopyLine(SyncContext* context, int status, const FileNode* node, const char* reason);
void listResults(SyncContext* context);
void printSummary(SyncContext* context);
