// Where a pulled file may go: the target checked when the pull begins and again
// just before the rename, and the rename itself (one that never replaces for a new
// file, so a file made meanwhile, or one a case-folding or name-shortening file
// system takes for the target, stays).
#include "hostfs/pullplace.h"

#include "support/errors.h"

PlaceCheck checkPullPlace(PullPlace* place, const char16_t* targetPath) {
    place->foundSet = osPathStamp(targetPath, &place->found);
    if (!place->foundSet) return PlaceCheck::Fits;  // nothing there (yet)
    if (place->found.link) return PlaceCheck::Link;
    if (place->replaces == PullReplaces::Nothing) return PlaceCheck::Changed;
    if (place->replaces == PullReplaces::Listed &&
        (place->found.size != place->size || place->found.mtime != place->mtime))
        return PlaceCheck::Changed;
    return PlaceCheck::Fits;
}

PlaceCheck placePulledFile(const PullPlace* place, const char16_t* tempPath,
                           const char16_t* targetPath) {
    if (place->replaces == PullReplaces::Nothing) {
        bool taken = false;
        if (osRenameNew(tempPath, targetPath, &taken)) return PlaceCheck::Fits;
        if (taken) return PlaceCheck::Changed;
        raiseErrorWide(ERR_FILE_CREATE, targetPath);
    }
    OsFileStamp now;
    bool there = osPathStamp(targetPath, &now);
    if (there && now.link) return PlaceCheck::Link;
    // A listed file that is gone, was written since it was listed, or is another file
    // than when the pull began, is someone else's now.
    if (place->replaces == PullReplaces::Listed &&
        (!there || !place->foundSet || now.size != place->size || now.mtime != place->mtime ||
         now.volume != place->found.volume || now.file != place->found.file))
        return PlaceCheck::Changed;
    // The permissions of the file it replaces; without them a private file could
    // become readable to others, so the old file stays.
    if (there && now.regular && !osCopyPermissions(targetPath, tempPath)) return PlaceCheck::Failed;
    if (!osRenameFile(tempPath, targetPath)) raiseErrorWide(ERR_FILE_CREATE, targetPath);
    return PlaceCheck::Fits;
}
