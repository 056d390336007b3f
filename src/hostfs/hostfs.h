// Host file system access: root normalisation, entry queries, directory reads into
// the tree, and creation of directories and files for pulled files.
// Raise: createHostFile and createHostTempFile (as they say), newHostNode and
// readHostDirectory (a full heap). The others never raise.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "tree/filetree.h"

struct PrivateHeap;

// Full-path buffer of root normalisation: as long as a root, so a deep but valid
// root is normalised rather than refused.
constexpr size_t kFullPathChars = 1024;

// Normalise a narrow root argument into a UTF-16 root of kRootChars. False when it
// cannot be normalised or does not fit (the output then stays empty).
bool normaliseHostRoot(const char* argument, char16_t* out);
// The full path of `in` with each existing component in its stored form (kPathChars
// output); false, output untouched, when the full path has no drive or '/' root.
bool trueCasePath(const char16_t* in, char16_t* out);
bool normaliseDeviceRoot(const char* argument, char16_t* out);
// The parent of a host path (kPathChars output): the root is its own parent, and a
// path without separator has the empty parent.
void parentDirectory(const char16_t* path, char16_t* out);
bool isAsciiLetter(char16_t c);

// Creates a directory and its missing ancestors; prints one message per failed level.
bool createDirectoryPath(const char16_t* path);
// Creates the missing parents and the file (truncating). Raises ERR_DIR_CREATE or
// ERR_FILE_CREATE.
OsFile createHostFile(const char16_t* path);
// Creates the missing parents and a new temporary file beside `path` (its name in
// `tempPath`, kPathChars). Raises ERR_DIR_CREATE or ERR_FILE_CREATE.
OsFile createHostTempFile(const char16_t* path, char16_t* tempPath);
// True when the temporary name for `path` fits a path buffer.
bool hostTempPathFits(const char16_t* path);

// Fills mode, size and mtime from the host entry; false when it cannot be
// queried or its path does not fit.
bool statHostNode(const char16_t* root, FileNode* node);
// A new unlinked node from the heap for one entry of a directory read.
FileNode* newHostNode(PrivateHeap* heap, const OsDirEntry* entry);
// The identities of the directories being read, one per depth below the root: a
// directory equal to one of its ancestors (reached through a link) is not entered.
// Each level of a path adds at least two characters, so this many levels always fit.
constexpr size_t kMaxHostDepth = kPathChars / 2;
struct HostWalk {
    OsDirId ids[kMaxHostDepth];
};

// Adds one child per entry, in name order. False, nothing added, after one line on
// standard error, when the directory cannot be listed or entered, its path does not
// fit, or it is one of its own ancestors: the caller leaves its subtree out.
bool readHostDirectory(PrivateHeap* heap, const char16_t* root, FileNode* directory,
                       HostWalk* walk);
