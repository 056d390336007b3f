// The one record of a run: heap, connection, roots, the two top nodes, pattern
// lists, options, output grouping and counters. main owns it; every step takes it.
#pragma once

#include <cstdint>

#include "adb/connection.h"
#include "adb/reconnect.h"
#include "adb/syncqueries.h"
#include "hostfs/hostfs.h"
#include "run/statusline.h"
#include "support/heap.h"
#include "tree/filetree.h"
#include "tree/patterns.h"
#include "tree/status.h"

// ListMask: bit n lists status n; two control bits above them.
constexpr uint32_t kListOneSidedBlocks =
    statusBit(kStatusCount);  // one-sided entries in blocks of their own
constexpr uint32_t kListSummary = statusBit(kStatusCount + 1);  // the summary of counts
// conflicts and copies
constexpr uint32_t kListDefault =
    statusBits(HostDirConflict, AndroidDirConflict) | statusBits(CreatedOnHost, UpdatedOnAndroid);

// CopyFlags: bits 0..2 the device side (/a), 3..5 the host side (/h).
constexpr uint32_t kCopyUpdateAndroid = 0x01;
constexpr uint32_t kCopyCreateAndroid = 0x02;
constexpr uint32_t kCopyDirsAndroid = 0x04;
constexpr uint32_t kCopyUpdateHost = 0x08;
constexpr uint32_t kCopyCreateHost = 0x10;
constexpr uint32_t kCopyDirsHost = 0x20;

struct DeviceLookahead;  // the comparison's device requests in flight (lookahead.h)
struct NotCopied;        // a file the run did not copy (notcopied.h)

struct SyncContext {
    PrivateHeap heap;
    AdbConnection conn;
    char16_t hostRoot[kRootChars];
    char16_t altRoot[kRootChars];  // newer device files are written below it
    FileNode hostTop;
    char16_t androidRoot[kRootChars];  // begins with '/', no trailing '/'
    FileNode androidTop;
    PatternList* ignoreList;
    PatternList* onlyList;
    uint32_t timeRounding;  // rounding mode of every FILETIME reduction
    uint32_t oneHourSame;   // times 3600 s apart count as equal
    uint32_t copyFlags;
    uint32_t recurse;
    uint32_t keepGoing;  // -k: a file that cannot be copied does not end the run
    uint32_t listMask;
    uint32_t printedAny;     // a line of the current block was written
    uint32_t needBlankLine;  // the next line starts with an empty line
    uint32_t statusCounts[kStatusCount];
    uint64_t perfFrequency;                 // counter ticks per second, read once
    uint64_t copyStart;                     // counter at the start of the timed copy
    HostWalk hostWalk;                      // the host directories being compared, by depth
    DeviceDirId deviceWalk[kMaxHostDepth];  // the device directories being compared, by depth
    uint32_t pushesSkipped;                 // files left as they were because they changed
    uint32_t pullsSkipped;
    uint32_t requestWindow;       // files or directories in flight; 0 = the default
    DeviceLookahead* lookahead;   // set while the comparison walks
    uint32_t dryRun;              // -n: compare and list, copy nothing
    uint32_t showProgress;        // the progress line is wanted (no -q)
    StatusLine status;            // the progress line on a terminal
    NotCopied* notCopied;         // -k: the files not copied, the last one first
    uint32_t drops;               // -k: connections lost since the last file copied
    const FileNode* lastDropped;  // -k: the file in flight at the last lost connection
    const char* goneReason;       // -k: the device did not come back; the rest is not tried
    uint32_t goneCode;            // ... and the run ends with this error after the list
    SpareConnection spare;        // -k: held in sync mode for the next device FAIL
    uint32_t spareOpened;         // -k: a spare was opened for the current connection
};
