// The copy passes: the push pass sends new and newer host files, the pull pass
// fetches new and newer device files, each copy bracketed by its copy line.
// Raise: both passes, on device and connection faults and a host file that cannot be
// opened or created.
#pragma once

struct SyncContext;
struct FileNode;

// Why a file is not copied: its paths do not fit (a cut path would name another
// file), or it changed since it was listed.
constexpr char kPathTooLong[] = "Path too long, not copied";
constexpr char kFileChanged[] = "File changed while copied, not copied";

// One line on standard output, "reason: path", for a file that is not copied.
void reportSkipped(const FileNode* node, const char* reason);

// Each returns false when a copy failed on the host side (the run then ends with
// its "Can't copy" message) and raises on device and connection faults.
bool pushPass(SyncContext* context);
bool pullPass(SyncContext* context);
