// The files a run did not copy: the line at the time, and the block at the end that
// lists them, pushes first, each pass in the order of its walk.
#include "run/notcopied.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "run/context.h"
#include "support/encodings.h"
#include "support/heap.h"
#include "tree/filetree.h"
#include "tree/status.h"

namespace {

constexpr size_t kReasonBytes = 1024;  // a reason kept, terminator included
constexpr size_t kNotCopiedLineBytes = kNarrowPathBytes + kReasonBytes + 32;  // a line about one
constexpr char kBlockTitle[] = "Not copied:";

bool isPush(int status) {
    return status == CreatedOnAndroid || status == UpdatedOnAndroid;
}

void writeSafe(char* line, int length) {
    if (length <= 0) return;
    size_t count = static_cast<size_t>(length) < kNotCopiedLineBytes ? static_cast<size_t>(length)
                                                                     : kNotCopiedLineBytes - 1;
    // The line end stays; names and reasons show no control characters.
    size_t end = std::strlen(osLineEnd());
    size_t body = count >= end ? count - end : count;
    makeDisplaySafeBytes(line, body);
    std::memcpy(line + body, osLineEnd(), end);
    osWriteStdout(line, body + end);
}

// The files of one pass in the order of its walk over `top`'s tree.
void printPass(SyncContext* context, const FileNode* top, bool pushes) {
    std::unordered_map<const FileNode*, std::vector<const NotCopied*>> byNode;
    for (const NotCopied* entry = context->notCopied; entry; entry = entry->next)
        if (isPush(entry->status) == pushes) byNode[entry->node].push_back(entry);
    if (byNode.empty()) return;
    for (auto& [node, entries] : byNode) std::reverse(entries.begin(), entries.end());
    for (const FileNode* node = top->firstChild; node; node = nextNode(node)) {
        auto found = byNode.find(node);
        if (found == byNode.end()) continue;
        for (const NotCopied* entry : found->second) {
            char path[kNarrowPathBytes];
            displayPath(entry->node, path);
            char line[kNotCopiedLineBytes];
            int length = std::snprintf(line, sizeof line, "%s  %s: %s%s",
                                       statusTable[entry->status].listCode, path, entry->reason,
                                       osLineEnd());
            writeSafe(line, length);
        }
    }
}

}  // namespace

void sayNotCopied(SyncContext* context, const FileNode* node, const char* reason, bool lineOpen) {
    char line[kNotCopiedLineBytes];
    int length;
    if (lineOpen) {
        length = std::snprintf(line, sizeof line, "not copied (%s)%s", reason, osLineEnd());
    } else {
        char path[kNarrowPathBytes];
        displayPath(node, path);
        length =
            std::snprintf(line, sizeof line, "Not copied: %s (%s)%s", path, reason, osLineEnd());
    }
    writeSafe(line, length);
    context->printedAny = 1;
}

void keepNotCopied(SyncContext* context, int status, const FileNode* node, const char* reason) {
    if (isPush(status))
        context->pushesSkipped += 1;
    else
        context->pullsSkipped += 1;
    if (!context->keepGoing) return;
    NotCopied* entry = static_cast<NotCopied*>(heapAlloc(&context->heap, sizeof(NotCopied)));
    char kept[kReasonBytes];
    std::snprintf(kept, sizeof kept, "%s", reason);
    *entry = NotCopied{node, status, heapDupNarrow(&context->heap, kept), context->notCopied};
    context->notCopied = entry;
}

void printNotCopied(SyncContext* context) {
    if (context->notCopied == nullptr) return;
    char line[kNotCopiedLineBytes];
    int length = std::snprintf(line, sizeof line, "%s%s%s",
                               context->needBlankLine ? osLineEnd() : "", kBlockTitle, osLineEnd());
    osWriteStdout(line, static_cast<size_t>(length));
    context->needBlankLine = 0;
    printPass(context, &context->hostTop, true);
    printPass(context, &context->androidTop, false);
    context->needBlankLine = 1;
}
