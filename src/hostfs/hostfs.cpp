// Host file system access: root normalisation, entry queries, directory reads into
// the tree, and creation of directories and files for pulled files. Portable: the
// differences between drive-letter hosts and POSIX hosts come from the OS layer
// (full path, stored-name lookup, separator) and the path syntax derived from it.
//
// Sections: path syntax; roots; parent and directory creation; files; queries and
// directory reads.
#include "hostfs/hostfs.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/encodings.h"
#include "support/errors.h"
#include "support/heap.h"
#include "tree/filetree.h"

namespace {

// A narrow path in a message is never cut: three bytes per UTF-16 unit at most.
constexpr size_t kMessagePathBytes = kPathChars * 3 + 1;
constexpr size_t kMessageBytes = kMessagePathBytes + 128;  // one message line
constexpr size_t kTempNameChars = 100;   // of the target's name kept in a temporary name
constexpr int kTempAttempts = 64;        // fresh temporary names tried before giving up
constexpr size_t kTempSuffixChars = 16;  // ".tandrix-" and the hex digits

// How host paths are spelled: the separator, and whether a path starts with a drive
// letter and a colon (where the separator is the backslash) or with the separator.
struct PathSyntax {
    char16_t separator;
    bool driveLetters;
};

PathSyntax hostSyntax() {
    char16_t separator = osPathSeparator();
    return {separator, separator == u'\\'};
}

// Length of the root prefix of a full path ("C:\" or "/"), 0 when it has none.
size_t rootLength(const char16_t* path, const PathSyntax& syntax) {
    if (syntax.driveLetters)
        return isAsciiLetter(path[0]) && path[1] == u':' && path[2] == syntax.separator ? 3 : 0;
    return path[0] == syntax.separator ? 1 : 0;
}

// Writes one message with a path to standard output: `format` holds one "%s".
void printPathMessage(const char* format, const char16_t* path) {
    char narrow[kMessagePathBytes];
    osWideToNarrow(path != nullptr ? path : u"", narrow, sizeof narrow);
    makeDisplaySafeBytes(narrow, std::strlen(narrow));
    char line[kMessageBytes];
    int length = std::snprintf(line, sizeof line, format, narrow);
    if (length < 0) return;
    size_t used = static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1;
    used += std::snprintf(line + used, sizeof line - used, "%s", osLineEnd());
    osWriteStdout(line, used < sizeof line ? used : sizeof line - 1);
}

// Creates the directories above `path`; raises ERR_DIR_CREATE with the parent.
void createParents(const char16_t* path) {
    char16_t parent[kPathChars];
    parentDirectory(path, parent);
    if (!createDirectoryPath(parent)) raiseErrorWide(ERR_DIR_CREATE, parent);
}

// Reading one directory: its nodes are collected first and linked in one sorted pass.
struct DirectoryRead {
    PrivateHeap* heap;
    const char16_t* root;
    const FileNode* directory;
    std::vector<FileNode*> nodes;
};

// Says that an entry was left out, and why. Its odd bytes show as \xHH so nothing raw
// reaches the terminal.
void reportSkippedEntry(const DirectoryRead* read, const char* rawName, const char* reason) {
    char directory[kNarrowPathBytes];
    hostPathNarrow(read->root, read->directory, directory);
    char shown[kNameOrderBytes * 4 + 1];
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(rawName);
         *p != 0 && n + 5 < sizeof shown; ++p) {
        if (*p < 0x20 || *p >= 0x7F || *p == '\\')
            n += std::snprintf(shown + n, sizeof shown - n, "\\x%02X", *p);
        else
            shown[n++] = static_cast<char>(*p);
    }
    shown[n] = 0;
    char line[kMessageBytes];
    char separator = static_cast<char>(osPathSeparator());
    std::snprintf(line, sizeof line, "Skipped \"%s%c%s\": %s%s", directory, separator, shown,
                  reason, osLineEnd());
    reportMessage(line);
}

void visitEntry(void* context, const OsDirEntry* entry) {
    DirectoryRead* read = static_cast<DirectoryRead*>(context);
    if (entry->name == nullptr) {
        // Not valid Unicode: it cannot be named in UTF-16 nor on the device.
        reportSkippedEntry(read, entry->rawName != nullptr ? entry->rawName : "",
                           "the name is not valid Unicode");
        return;
    }
    if (!entry->info.isDirectory && isPullTempName(entry->name)) {
        // Left by a pull that was killed: never compared, so never pushed.
        char shown[kNarrowPathBytes];
        osWideToNarrow(entry->name, shown, sizeof shown);
        reportSkippedEntry(read, shown, "a temporary file of an interrupted pull");
        return;
    }
    read->nodes.push_back(newHostNode(read->heap, entry));
}

}  // namespace

FileNode* newHostNode(PrivateHeap* heap, const OsDirEntry* entry) {
    FileNode* node = static_cast<FileNode*>(heapAlloc(heap, sizeof(FileNode)));
    std::memset(node, 0, sizeof *node);
    node->name = heapDupWide(heap, entry->name);
    node->mode = entry->info.isDirectory ? kModeDirectory : kModeFile;
    node->size = entry->info.size;
    node->mtime = entry->info.mtime;
    return node;
}

// ---------------------------------------------------------------------------
// Roots
// ---------------------------------------------------------------------------

bool isAsciiLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool normaliseHostRoot(const char* argument, char16_t* out) {
    out[0] = 0;
    // One unit more than a root holds, so an argument too long to fit is seen, not cut.
    char16_t wide[kRootChars + 1];
    if (osNarrowToWide(argument, wide, kRootChars + 1) >= kRootChars) return false;
    if (!trueCasePath(wide, out)) {
        out[0] = 0;
        return false;
    }
    PathSyntax syntax = hostSyntax();
    size_t length = wideLength(out);
    if (length > rootLength(out, syntax) && out[length - 1] == syntax.separator)
        out[length - 1] = 0;
    return true;
}

bool trueCasePath(const char16_t* in, char16_t* out) {
    PathSyntax syntax = hostSyntax();
    char16_t full[kFullPathChars];
    if (!osFullPath(in, full, kFullPathChars)) return false;
    size_t root = rootLength(full, syntax);
    if (root == 0) return false;  // \\server\share, \\?\ and other forms are refused

    char16_t result[kPathChars];
    std::memcpy(result, full, root * sizeof(char16_t));
    if (syntax.driveLetters) result[0] = osUpperChar(full[0]);
    size_t length = root;
    bool resolving = true;  // the drive root itself is never looked up
    size_t pos = root;
    while (full[pos] != 0) {
        size_t end = pos;
        bool wildcard = false;
        while (full[end] != 0 && full[end] != syntax.separator) {
            if (full[end] == u'*' || full[end] == u'?') wildcard = true;
            ++end;
        }
        size_t componentLength = end - pos;
        if (length + componentLength >= kPathChars) return false;
        std::memcpy(result + length, full + pos, componentLength * sizeof(char16_t));
        result[length + componentLength] = 0;
        if (wildcard) resolving = false;
        if (resolving && componentLength != 0) {
            char16_t stored[kPathChars];
            bool directory = false;
            if (!osLookupName(result, stored, kPathChars, &directory)) {
                resolving = false;
            } else {
                // The stored name (its case, or the long name of a short alias).
                size_t storedLength = wideLength(stored);
                if (storedLength != 0) {
                    if (length + storedLength >= kPathChars) return false;
                    std::memcpy(result + length, stored, storedLength * sizeof(char16_t));
                    componentLength = storedLength;
                }
                if (!directory) resolving = false;
            }
        }
        length += componentLength;
        if (full[end] == syntax.separator && full[end + 1] != 0) {
            if (length + 1 >= kPathChars) return false;
            result[length++] = syntax.separator;
        }
        pos = full[end] != 0 ? end + 1 : end;
    }
    result[length] = 0;
    std::memcpy(out, result, (length + 1) * sizeof(char16_t));
    return true;
}

bool normaliseDeviceRoot(const char* argument, char16_t* out) {
    out[0] = u'/';
    out[1] = 0;
    const char* rest = argument[0] == '/' ? argument + 1 : argument;
    // One unit more than the root holds after its '/', so a cut is seen.
    char16_t wide[kRootChars];
    if (osNarrowToWide(rest, wide, kRootChars) >= kRootChars - 1) {
        out[0] = 0;
        return false;
    }
    size_t length = wideLength(wide);
    std::memcpy(out + 1, wide, (length + 1) * sizeof(char16_t));
    ++length;
    if (length > 1 && out[length - 1] == u'/') out[length - 1] = 0;
    return true;
}

// ---------------------------------------------------------------------------
// Parent and directory creation
// ---------------------------------------------------------------------------

void parentDirectory(const char16_t* path, char16_t* out) {
    PathSyntax syntax = hostSyntax();
    size_t n = wideLength(path);
    size_t i = n;
    while (i > 0) {
        char16_t c = path[i - 1];
        if (c == syntax.separator || (syntax.driveLetters && c == u':')) break;
        --i;
    }
    if (i == 0) {  // no separator at all
        out[0] = 0;
        return;
    }
    --i;
    size_t keep = i;
    if (i < 3 && syntax.driveLetters && isAsciiLetter(path[0]) && path[1] == u':' &&
        (i == 1 || path[2] == syntax.separator)) {
        out[0] = path[0];
        out[1] = u':';
        out[2] = syntax.separator;
        out[3] = 0;
        return;
    }
    if (i == 0 && !syntax.driveLetters) keep = 1;  // the parent of /a and of / is /
    std::memcpy(out, path, keep * sizeof(char16_t));
    out[keep] = 0;
}

bool createDirectoryPath(const char16_t* path) {
    if (path == nullptr || path[0] == 0) {
        printPathMessage("Invalid path %s", path);
        return false;
    }
    OsFileInfo info;
    if (osStatPath(path, &info)) {
        if (info.isDirectory) return true;
        printPathMessage("Path already exists, but not as directory %s", path);
        return false;
    }
    if (osCreateDirectory(path)) return true;
    char16_t parent[kPathChars];
    parentDirectory(path, parent);
    if (wideLength(parent) >= wideLength(path)) {
        printPathMessage("Could not create root directory %s", parent);
        return false;
    }
    if (!createDirectoryPath(parent)) {
        printPathMessage("Could not create parent directory %s", parent);
        return false;
    }
    if (!osCreateDirectory(path)) {
        printPathMessage("Could not create subdirectory %s", path);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

OsFile createHostFile(const char16_t* path) {
    createParents(path);
    OsFile file = osCreateWrite(path);
    if (file == kNoFile) raiseErrorWide(ERR_FILE_CREATE, path);
    return file;
}

bool hostTempPathFits(const char16_t* path) {
    PathSyntax syntax = hostSyntax();
    size_t n = wideLength(path);
    size_t nameStart = n;
    while (nameStart > 0 && path[nameStart - 1] != syntax.separator) --nameStart;
    size_t nameLength = n - nameStart < kTempNameChars ? n - nameStart : kTempNameChars;
    return nameStart + 1 + nameLength + kTempSuffixChars < kPathChars;
}

// The temporary file is ".NAME.tandrix-XXXXXX" beside the target, so the rename that
// replaces the target stays within one directory (one file system).
OsFile createHostTempFile(const char16_t* path, char16_t* tempPath) {
    PathSyntax syntax = hostSyntax();
    createParents(path);
    size_t n = wideLength(path);
    size_t nameStart = n;
    while (nameStart > 0 && path[nameStart - 1] != syntax.separator) --nameStart;
    size_t nameLength = n - nameStart;
    if (nameLength > kTempNameChars) nameLength = kTempNameChars;
    // Never end the kept part between the halves of a surrogate pair.
    if (nameLength > 0 && path[nameStart + nameLength - 1] >= 0xD800 &&
        path[nameStart + nameLength - 1] < 0xDC00)
        --nameLength;
    if (nameStart + 1 + nameLength + kTempSuffixChars >= kPathChars)
        raiseErrorWide(ERR_FILE_CREATE, path);

    uint64_t seed =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        char suffix[kTempSuffixChars + 1];
        std::snprintf(suffix, sizeof suffix, ".tandrix-%06X",
                      static_cast<unsigned>(seed >> 40) & 0xFFFFFFu);
        size_t length = 0;
        std::memcpy(tempPath, path, nameStart * sizeof(char16_t));
        length = nameStart;
        tempPath[length++] = u'.';
        std::memcpy(tempPath + length, path + nameStart, nameLength * sizeof(char16_t));
        length += nameLength;
        for (const char* s = suffix; *s != 0; ++s) tempPath[length++] = static_cast<char16_t>(*s);
        tempPath[length] = 0;
        OsFile file = osCreateNew(tempPath);
        if (file != kNoFile) return file;
        // Only a name already taken is worth another try.
        OsFileInfo info;
        if (!osStatPath(tempPath, &info)) break;
    }
    raiseErrorWide(ERR_FILE_CREATE, tempPath);
}

// ---------------------------------------------------------------------------
// Queries and directory reads
// ---------------------------------------------------------------------------

bool statHostNode(const char16_t* root, FileNode* node) {
    char16_t path[kPathChars];
    if (!hostPath(root, node, path)) return false;
    OsFileInfo info;
    if (!osStatPath(path, &info)) return false;
    node->mode = info.isDirectory ? kModeDirectory : kModeFile;
    node->size = info.size;
    node->mtime = info.mtime;
    return true;
}

namespace {

// One line on standard error: the directory `shown` and why its subtree is left out.
void reportSkippedDirectory(const char* shown, const char* reason) {
    char line[kMessageBytes];
    std::snprintf(line, sizeof line, "Skipped directory \"%s\": %s", shown, reason);
    reportMessage(line);
}

}  // namespace

bool readHostDirectory(PrivateHeap* heap, const char16_t* root, FileNode* directory,
                       HostWalk* walk) {
    char16_t path[kPathChars];
    char shown[kNarrowPathBytes];
    size_t depth = 0;
    for (const FileNode* n = directory; n->parent != nullptr; n = n->parent) ++depth;
    // A cut path would name another place.
    if (!hostPath(root, directory, path) || depth >= kMaxHostDepth) {
        hostPathNarrow(root, directory, shown);
        reportSkippedDirectory(shown, "path too long");
        return false;
    }
    DirectoryRead read{heap, root, directory, {}};
    OsDirId id{};
    if (!osReadDirectory(path, visitEntry, &read, &id)) {
        hostPathNarrow(root, directory, shown);
        reportSkippedDirectory(shown, "cannot be read");
        return false;
    }
    for (size_t i = 0; i < depth; ++i) {
        if (walk->ids[i].volume == id.volume && walk->ids[i].file == id.file) {
            hostPathNarrow(root, directory, shown);
            reportSkippedDirectory(shown, "a link to a directory that contains it");
            return false;
        }
    }
    walk->ids[depth] = id;
    insertChildrenSorted(directory, read.nodes.data(), read.nodes.size());
    return true;
}
