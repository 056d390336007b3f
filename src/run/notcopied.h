// The files a run did not copy: the line said when a copy fails, and with -k the
// list of every such file with its reason, printed as a block at the end of the run.
// Nothing here raises but the heap (full).
#pragma once

struct SyncContext;
struct FileNode;

// One file not copied; kept in the private heap for the end of the run.
struct NotCopied {
    const FileNode* node;
    int status;          // the copy it would have been (CreatedOnAndroid ... UpdatedOnAndroid)
    const char* reason;  // in words: the device's text or the system's message
    NotCopied* next;
};

// The line said when a copy fails: its copy line, when one is open (`lineOpen`),
// ends with the reason; otherwise one line names the file and the reason.
void sayNotCopied(SyncContext* context, const FileNode* node, const char* reason, bool lineOpen);
// Counts a file not copied against its pass's exit code and, with -k, keeps it for
// the list.
void keepNotCopied(SyncContext* context, int status, const FileNode* node, const char* reason);
// The block of every file kept: pushes first, each pass in walk order, one line each
// with the copy's code, the path and the reason. Nothing when there is none.
void printNotCopied(SyncContext* context);
