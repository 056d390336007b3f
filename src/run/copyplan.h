// What the copy passes copy: the test of one node against its pass's statuses and
// the copy flags, its paths and the test that they fit, and the run's totals. The passes, the
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
// The paths of a copy: false when one does not fit its buffer or request (a cut
// path would name another file; such a file is skipped with a message).
bool pushTargets(const SyncContext* context, const FileNode* node, char16_t* localPath,
                 char* remotePath);
bool pullTargets(const SyncContext* context, const FileNode* node, char* remotePath,
                 char16_t* targetPath);
// The host path a pulled file goes to: below the host root for a new file, below the
// alternative root (the host root unless one is given) for an update.
bool pullTargetPath(const SyncContext* context, const FileNode* node, char16_t* out);
bool pushPathsFit(const SyncContext* context, const FileNode* node);
bool pullPathsFit(const SyncContext* context, const FileNode* node);
// The files and bytes the two passes copy, as the comparison left the trees (files
// whose paths do not fit left out).
void countCopies(const SyncContext* context, CopyTotals* totals);
