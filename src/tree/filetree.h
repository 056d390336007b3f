// The file tree: one node per file or directory of either side, children kept in
// one name order, the pre-order walk, and the path forms of a node.
// Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kRootChars = 1024;        // each root, UTF-16, terminator included
constexpr size_t kPathChars = 1024;        // UTF-16 path buffers, terminator included
constexpr size_t kNarrowPathBytes = 1024;  // narrow and UTF-8 path buffers
constexpr size_t kNameOrderBytes = 256;    // UTF-8 prefix of a name that takes part in the order

// A directory holding an entry of this name is left out on both sides.
inline constexpr char16_t kMarkerName[] = u".notandrix";

constexpr uint32_t kModeTypeMask = 0xF000;
constexpr uint32_t kModeDirectory = 0x4000;
constexpr uint32_t kModeFile = 0x8000;

struct FileNode {
    FileNode* parent;       // null for the two top nodes
    FileNode* nextSibling;  // next child of the same directory in name order
    FileNode* firstChild;
    FileNode* partner;  // paired node of the other tree, set both ways
    char16_t* name;     // null only for the top nodes
    uint32_t mode;      // Unix-style; type bits 0xF000
    uint64_t size;      // bytes (a v1 device listing gives only the low 32 bits)
    uint64_t mtime;     // FILETIME
    int32_t order;      // position in the merged name order of its directory
    int32_t status;     // NodeStatus
};

inline bool isDirectory(const FileNode* node) {
    return (node->mode & kModeTypeMask) == kModeDirectory;
}

// The low 32 bits of a size: all a v1 listing carries, so what a v1 length compares by.
inline uint32_t sizeLow32(uint64_t size) {
    return static_cast<uint32_t>(size);
}

int compareNames(const char16_t* a, const char16_t* b);
void insertChild(FileNode* directory, FileNode* node);
// Links `count` new nodes as the children of an empty directory in the order that
// one insertChild per node (in array order) would give, in O(n log n).
void insertChildrenSorted(FileNode* directory, FileNode** nodes, size_t count);
FileNode* nextNode(const FileNode* node);

// The path builders return false when the path does not fit its buffer: the node
// is then unusable (a cut path would name a different file). The output holds a
// visibly shortened form for messages.
bool relativePath(const FileNode* node, char16_t separator, char16_t* out);
// `root` is the host root (or the altroot) for the host forms, the device root for
// the device forms; a top node (no name) stands for the root itself.
bool hostPath(const char16_t* root, const FileNode* node, char16_t* out);
bool hostPathNarrow(const char16_t* root, const FileNode* node, char* out);
bool devicePath(const char16_t* root, const FileNode* node, char* out);  // UTF-8
bool devicePathNarrow(const char16_t* root, const FileNode* node, char* out);
void displayPath(const FileNode* node, char* out);

// True for the name of a pull's temporary file: never compared on either side, so
// an interrupted pull's leftover is neither pushed nor pulled again.
bool isPullTempName(const char16_t* name);

// A node that stands for the marker file inside `directory`, for a query on either side.
struct MarkerNode {
    char16_t name[sizeof kMarkerName / sizeof kMarkerName[0]];
    FileNode node;
};
void initMarkerNode(MarkerNode* marker, FileNode* directory);
