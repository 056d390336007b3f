// The /i and /o pattern lists: parsing a ';'-separated value into heap patterns of
// their kinds, the wildcard matcher, and the filter that decides whether a node of
// either tree is left out.
#include "tree/patterns.h"

#include <cstring>

#include "platform/platform.h"
#include "support/encodings.h"
#include "support/heap.h"
#include "tree/filetree.h"

namespace {

// kAbort: the search behind a '*' has failed; no later start of the name can
// succeed either (each later start only narrows what that '*' may cover), so the
// callers stop instead of trying further offsets. This keeps the matcher linear
// in the offsets tried per '*' rather than exponential in the number of '*'.
enum MatchResult { kMatch, kNoMatch, kAbort };

// Characters of a pattern rest that consume exactly one name character.
size_t fixedChars(const char16_t* pattern) {
    size_t count = 0;
    for (; *pattern != 0; ++pattern)
        if (*pattern != u'*') ++count;
    return count;
}

bool hasStar(const char16_t* pattern) {
    for (; *pattern != 0; ++pattern)
        if (*pattern == u'*') return true;
    return false;
}

MatchResult matchFrom(const char16_t* name, const char16_t* pattern) {
    for (;;) {
        char16_t c = *pattern;
        if (c == 0) return *name == 0 ? kMatch : kNoMatch;
        if (c == u'*') break;
        if (*name == 0) return kNoMatch;
        if (c != u'?' && osUpperChar(c) != osUpperChar(*name)) return kNoMatch;
        ++name;
        ++pattern;
    }
    while (*pattern == u'*') ++pattern;
    if (*pattern == 0) return kMatch;

    size_t left = wideLength(name);
    size_t fixed = fixedChars(pattern);
    if (left < fixed) return kAbort;
    size_t slack = left - fixed;
    // Without a further '*' the rest has a fixed length: only the tail can match.
    if (!hasStar(pattern)) return matchFrom(name + slack, pattern) == kMatch ? kMatch : kAbort;
    for (size_t offset = 0; offset <= slack; ++offset) {
        MatchResult result = matchFrom(name + offset, pattern);
        if (result != kNoMatch) return result;
    }
    return kAbort;
}

// The node's path below the root without its leading '/', built on first use; empty
// when it does not fit (such a node is skipped by the reads anyway).
struct LazyPath {
    const FileNode* node;
    bool built;
    char16_t text[kPathChars];
};

const char16_t* pathOf(LazyPath* path) {
    if (!path->built) {
        path->built = true;
        if (!relativePath(path->node, u'/', path->text)) path->text[0] = 0;
    }
    return path->text[0] == u'/' ? path->text + 1 : path->text;
}

// True when a pattern of the list, of one of the two kinds, matches the node.
bool matchesAny(const PatternList* list, uint32_t nameKind, uint32_t pathKind, LazyPath* path) {
    for (; list != nullptr; list = list->next) {
        if (list->kind == nameKind && matchWildcard(path->node->name, list->pattern)) return true;
        if (list->kind == pathKind && *pathOf(path) != 0 &&
            matchWildcard(pathOf(path), list->pattern))
            return true;
    }
    return false;
}

}  // namespace

bool matchWildcard(const char16_t* name, const char16_t* pattern) {
    if (name == nullptr || pattern == nullptr) return false;
    return matchFrom(name, pattern) == kMatch;
}

bool isIgnored(const PatternList* ignore, const PatternList* only, const FileNode* node) {
    if (node == nullptr || node->name == nullptr) return false;
    LazyPath path;  // the text is filled only when a path pattern asks for it
    path.node = node;
    path.built = false;
    if (isDirectory(node)) return matchesAny(ignore, kFolderNamePattern, kFolderPathPattern, &path);
    if (matchesAny(ignore, kFileNamePattern, kFilePathPattern, &path)) return true;
    if (only == nullptr) return false;
    return !matchesAny(only, kFileNamePattern, kPatternKinds, &path);
}

bool nextPatternEntry(const char** cursor, PatternEntry* entry) {
    const char* at = *cursor;
    for (;;) {
        while (*at == ' ') ++at;
        if (*at == 0) {
            *cursor = at;
            return false;
        }
        const char* end = at;
        while (*end != 0 && *end != ';') ++end;
        const char* last = end;
        while (last > at && last[-1] == ' ') --last;
        const char* start = at;
        at = *end == 0 ? end : end + 1;
        if (last > start) {
            *cursor = at;
            entry->text = start;
            entry->bytes = static_cast<size_t>(last - start);
            return true;
        }
    }
}

PatternList* parsePatternList(PrivateHeap* heap, const char* value) {
    PatternList* first = nullptr;
    PatternList** tail = &first;
    if (value == nullptr) return nullptr;
    PatternEntry entry;
    for (const char* cursor = value; nextPatternEntry(&cursor, &entry);) {
        const char* text = entry.text;
        size_t bytes = entry.bytes;
        bool folder = text[bytes - 1] == '/';
        if (folder) --bytes;
        bool path = std::memchr(text, '/', bytes) != nullptr;
        uint32_t kind = folder ? (path ? kFolderPathPattern : kFolderNamePattern)
                               : (path ? kFilePathPattern : kFileNamePattern);
        if (path && text[0] == '/') {
            ++text;
            --bytes;
        }
        // Each narrow byte yields at most one UTF-16 unit, so bytes + 1 units hold the
        // whole entry: nothing is cut. A folder pattern of '/' alone is empty and
        // matches nothing (names are never empty).
        char16_t* wide = static_cast<char16_t*>(
            heapAlloc(heap, static_cast<uint32_t>((bytes + 1) * sizeof(char16_t))));
        wide[0] = 0;
        if (bytes > 0) {
            char* narrow = heapDupNarrowCounted(heap, text, static_cast<uint32_t>(bytes));
            if (osNarrowToWide(narrow, wide, bytes + 1) == 0) continue;
        }
        auto* node = static_cast<PatternList*>(heapAlloc(heap, sizeof(PatternList)));
        node->next = nullptr;
        node->pattern = wide;
        node->kind = kind;
        *tail = node;
        tail = &node->next;
    }
    return first;
}
