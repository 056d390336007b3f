// Where a pulled file may go: the checks that keep a pull from replacing anything
// but the file it compared (nothing at all for a new file, never a symbolic link),
// and the rename that puts the whole file in place.
// Raise: placePulledFile (ERR_FILE_CREATE). The others never raise.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// What a pull may replace: nothing (a file new on the host), the host file as the
// comparison listed it, or whatever file is there (an update into an alternative
// root, which was never listed).
enum class PullReplaces { Nothing, Listed, AnyFile };

struct PullPlace {
    PullReplaces replaces;
    uint64_t size;      // Listed: the listed size and time
    uint64_t mtime;     // FILETIME
    OsFileStamp found;  // the target when the pull began (Listed: its device and inode)
    bool foundSet;
};

enum class PlaceCheck {
    Fits,     // the pull may go on
    Link,     // the target is a symbolic link: never replaced nor written through
    Changed,  // the target is not the file that was compared (or, for a new file, is there)
    Failed,   // the permissions could not be carried over: a failed write, the old file stays
};

// Just before the first byte is written: the target as it is now. Records it for
// placePulledFile.
PlaceCheck checkPullPlace(PullPlace* place, const char16_t* targetPath);

// Renames the closed temporary file over the target: for a new file only when
// nothing is there, for an update only when the target is still the file found when
// the pull began, with its listed size and time. Changed and Link leave the temporary
// file for the caller to remove, as does Failed. Raises ERR_FILE_CREATE when the rename fails
// otherwise (a directory there).
PlaceCheck placePulledFile(const PullPlace* place, const char16_t* tempPath,
                           const char16_t* targetPath);
