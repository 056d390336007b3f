// What the copy passes copy: the test of one node against its pass's statuses and
// the copy flags, the test that its paths fit, and the run's totals. The passes, the
// dry run and the progress line share them, so they always agree.
// Nothing here raises.
#pragma once

#include <cstdint>

struct SyncContext;
struct FileNode;

struct CopyTotals {
    uint64_t pushFiles;
    uint64_t pushBytes;  // listed sizes
    uint64_t pullFiles;
    uint64_t pullBytes;
};

// True when the push pass sends `node` (a host node) or the pull pass fetches it (a
// device node).
bool isPushed(const SyncContext* context, const FileNode* node);
bool isPulled(const SyncContext* context, const FileNode* node);
// True when the paths a copy of `node` needs fit their buffers and requests; a copy
// whose paths do not fit is skipped with a message (a cut path names another file).
bool pushPathsFit(const SyncContext* context, const FileNode* node);
bool pullPathsFit(const SyncContext* context, const FileNode* node);
// The files and bytes the two passes copy, as the comparison left the trees (files
// whose paths do not fit left out).
void countCopies(const SyncContext* context, CopyTotals* totals);
