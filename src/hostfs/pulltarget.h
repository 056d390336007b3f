// The temporary file a pulled file is received into: created beside its target at
// the first data, written as the data comes, renamed over the target once the whole
// file has arrived, removed on every other way out (an interrupt included), so a
// failed or interrupted pull keeps the old file.
// Raise: openPullTarget (ERR_DIR_CREATE, ERR_FILE_CREATE) and replaceWithPullTarget
// (ERR_FILE_CREATE). The others never raise.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "tree/filetree.h"

struct PullTarget {
    OsFile file = kNoFile;
    bool created = false;  // the temporary file exists and is ours to remove
    uint64_t written = 0;  // bytes written so far
    char16_t tempPath[kPathChars];

    ~PullTarget();  // discards a temporary file still there, so a raise leaves none
};

// Creates the missing parents and the temporary file beside `targetPath`, and has an
// interrupt remove it too.
void openPullTarget(PullTarget* target, const char16_t* targetPath);
// False when the write fails.
bool writePullTarget(PullTarget* target, const unsigned char* data, uint32_t count);
// Gives the file `mtime` (a file without it is still whole), closes it, gives it the
// permissions of the file it replaces and renames it over `targetPath`. False when
// the close reports a late write error; raises ERR_FILE_CREATE with the target when
// the rename fails (a directory there).
bool replaceWithPullTarget(PullTarget* target, const char16_t* targetPath, uint64_t mtime);
// Closes and removes the temporary file, if any, and starts the count again.
void discardPullTarget(PullTarget* target);
