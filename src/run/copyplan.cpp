// What the copy passes copy, and its totals: one test per pass, shared by the
// passes, the dry run and the progress line.
#include "run/copyplan.h"

#include <cstring>

#include "adb/transfers.h"
#include "hostfs/hostfs.h"
#include "run/context.h"
#include "tree/filetree.h"
#include "tree/status.h"

bool isPushed(const SyncContext* context, const FileNode* node) {
    return (node->status == HostFileOnly && (context->copyFlags & kCopyCreateAndroid) != 0) ||
           (node->status == HostFileNewer && (context->copyFlags & kCopyUpdateAndroid) != 0);
}

bool isPulled(const SyncContext* context, const FileNode* node) {
    return (node->status == AndroidFileOnly && (context->copyFlags & kCopyCreateHost) != 0) ||
           (node->status == AndroidFileNewer && (context->copyFlags & kCopyUpdateHost) != 0);
}

bool pushTargets(const SyncContext* context, const FileNode* node, char16_t* localPath,
                 char* remotePath) {
    return hostPath(context->hostRoot, node, localPath) &&
           devicePath(context->androidRoot, node, remotePath) &&
           std::strlen(remotePath) <= kMaxSendPathBytes;
}

bool pullTargetPath(const SyncContext* context, const FileNode* node, char16_t* out) {
    const char16_t* root = node->status == AndroidFileOnly ? context->hostRoot : context->altRoot;
    return hostPath(root, node, out);
}

bool pullTargets(const SyncContext* context, const FileNode* node, char* remotePath,
                 char16_t* targetPath) {
    return devicePath(context->androidRoot, node, remotePath) &&
           pullTargetPath(context, node, targetPath) && hostTempPathFits(targetPath);
}

bool pushPathsFit(const SyncContext* context, const FileNode* node) {
    char16_t localPath[kPathChars];
    char remotePath[kNarrowPathBytes];
    return pushTargets(context, node, localPath, remotePath);
}

bool pullPathsFit(const SyncContext* context, const FileNode* node) {
    char remotePath[kNarrowPathBytes];
    char16_t targetPath[kPathChars];
    return pullTargets(context, node, remotePath, targetPath);
}

void countCopies(const SyncContext* context, CopyTotals* totals) {
    *totals = CopyTotals{};
    for (const FileNode* node = context->hostTop.firstChild; node; node = nextNode(node)) {
        if (!isPushed(context, node) || !pushPathsFit(context, node)) continue;
        totals->pushFiles += 1;
        totals->pushBytes += node->size;
    }
    for (const FileNode* node = context->androidTop.firstChild; node; node = nextNode(node)) {
        if (!isPulled(context, node) || !pullPathsFit(context, node)) continue;
        totals->pullFiles += 1;
        totals->pullBytes += node->size;
    }
}
