// The temporary file of a pull, from its creation to its rename or removal.
#include "hostfs/pulltarget.h"

#include "hostfs/hostfs.h"
#include "support/errors.h"

PullTarget::~PullTarget() {
    discardPullTarget(this);
}

void openPullTarget(PullTarget* target, const char16_t* targetPath) {
    target->file = createHostTempFile(targetPath, target->tempPath);
    target->created = true;
    osSetInterruptCleanup(target->tempPath, target->file);  // Ctrl-C removes it too
}

bool writePullTarget(PullTarget* target, const unsigned char* data, uint32_t count) {
    if (!osWriteFile(target->file, data, count)) return false;
    target->written += count;
    return true;
}

bool replaceWithPullTarget(PullTarget* target, const char16_t* targetPath, uint64_t mtime) {
    target->written = 0;
    osSetFileTime(target->file, mtime);
    bool closed = osCloseFile(target->file);
    target->file = kNoFile;
    if (!closed) return false;
    // Fails harmlessly for a new file; a directory there fails the rename below.
    osCopyPermissions(targetPath, target->tempPath);
    if (!osRenameFile(target->tempPath, targetPath)) raiseErrorWide(ERR_FILE_CREATE, targetPath);
    target->created = false;
    osSetInterruptCleanup(nullptr, kNoFile);
    return true;
}

void discardPullTarget(PullTarget* target) {
    target->written = 0;
    if (target->file != kNoFile) osCloseFile(target->file);
    target->file = kNoFile;
    if (target->created) {
        osDeleteFile(target->tempPath);
        osSetInterruptCleanup(nullptr, kNoFile);
    }
    target->created = false;
}
