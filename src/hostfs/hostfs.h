// Host file system access: root normalisation, entry queries, directory reads into
// the tree, and creation of directories and files for pulled files.
#pragma once

#include <cstddef>

#include "platform/platform.h"

struct SyncContext;
struct FileNode;

constexpr size_t kFullPathChars = 1024;  // full-path buffer of root normalisation

// Normalise a narrow root argument into a UTF-16 root of kRootChars. False when it
// cannot be normalised (the output then stays empty).
bool normaliseHostRoot(const char* argument, char16_t* out);
bool trueCasePath(const char16_t* in, char16_t* out);
void normaliseDeviceRoot(const char* argument, char16_t* out);
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

bool statHostNode(SyncContext* context, FileNode* node);
void readHostDirectory(SyncContext* context, FileNode* directory);
