// Wildcard pattern lists of /i and /o and the filter that applies them to the nodes
// of the trees: file names, paths below the root, and folders.
// Raise: parsePatternList, when the heap is full. The matchers never raise.
#pragma once

#include <cstddef>
#include <cstdint>

struct PrivateHeap;
struct FileNode;

constexpr size_t kPatternChars = 256;  // the usual longest pattern (255 characters and terminator);
                                       // a longer one is kept whole, see parsePatternList
constexpr size_t kPatternValueBytes = 1024;  // the /i or /o value taken from the command line

// What a pattern is matched against, told by its '/'s. A final '/' (dropped from the
// stored pattern) makes a folder pattern; a '/' anywhere else makes a path pattern,
// matched against the whole path below the root ('/'-separated, a leading '/' of the
// pattern standing for the root and dropped too).
enum PatternKind : uint32_t {
    kFileNamePattern,    // no '/': the bare name of a file
    kFilePathPattern,    // "Music/*.m3u": the path of a file
    kFolderNamePattern,  // "Sent/": the bare name of a directory
    kFolderPathPattern,  // "*/Sent/", "DCIM/.thumbnails/": the path of a directory
    kPatternKinds
};

struct PatternList {
    PatternList* next;
    char16_t* pattern;
    uint32_t kind;  // PatternKind
};

// One entry of a ';'-separated value: `bytes` bytes from `text`, blanks around it
// dropped. nextPatternEntry moves `cursor` past it; false when no entry is left
// (empty entries are skipped).
struct PatternEntry {
    const char* text;
    size_t bytes;
};
bool nextPatternEntry(const char** cursor, PatternEntry* entry);

// Splits a ';'-separated value into patterns (blanks around each entry dropped,
// empty entries skipped), allocated from `heap`. Null when the value holds none.
// A pattern is never cut: one longer than 255 characters is kept as given, since a
// cut pattern would match names the user did not describe.
PatternList* parsePatternList(PrivateHeap* heap, const char* value);
// '*' any run of characters ('/' included), '?' exactly one, others compared
// upper-cased one by one. Linear in the offsets tried per '*', never exponential.
bool matchWildcard(const char16_t* name, const char16_t* pattern);
// A file is left out when /i matches it (its name, or its path for a path pattern),
// or when /o is given and none of its patterns matches its name. A directory is left
// out when a folder pattern of /i matches it; /o never leaves out a directory.
bool isIgnored(const PatternList* ignore, const PatternList* only, const FileNode* node);
