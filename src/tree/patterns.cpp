// The /i and /o pattern lists: parsing a ';'-separated value into heap patterns,
// the wildcard matcher, and the filter that decides whether a file is ignored.
#include "tree/patterns.h"

#include "platform/platform.h"
#include "support/encodings.h"
#include "support/heap.h"

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

bool matchesAny(const PatternList* list, const char16_t* name) {
    for (; list != nullptr; list = list->next)
        if (matchWildcard(name, list->pattern)) return true;
    return false;
}

}  // namespace

bool matchWildcard(const char16_t* name, const char16_t* pattern) {
    if (name == nullptr || pattern == nullptr) return false;
    return matchFrom(name, pattern) == kMatch;
}

bool isIgnored(const PatternList* ignore, const PatternList* only, const char16_t* name) {
    if (matchesAny(ignore, name)) return true;
    if (only == nullptr) return false;
    return !matchesAny(only, name);
}

PatternList* parsePatternList(PrivateHeap* heap, const char* value) {
    PatternList* first = nullptr;
    PatternList** tail = &first;
    if (value == nullptr) return nullptr;
    const char* cursor = value;
    for (;;) {
        while (*cursor == ' ') ++cursor;
        if (*cursor == 0) break;
        const char* end = cursor;
        while (*end != 0 && *end != ';') ++end;
        const char* last = end;
        while (last > cursor && last[-1] == ' ') --last;
        size_t bytes = static_cast<size_t>(last - cursor);
        char16_t* wide = nullptr;
        if (bytes > 0) {
            // Each narrow byte yields at most one UTF-16 unit, so bytes + 1 units
            // hold the whole entry: nothing is cut.
            char* narrow = heapDupNarrowCounted(heap, cursor, static_cast<uint32_t>(bytes));
            wide = static_cast<char16_t*>(
                heapAlloc(heap, static_cast<uint32_t>((bytes + 1) * sizeof(char16_t))));
            if (osNarrowToWide(narrow, wide, bytes + 1) == 0) wide = nullptr;
        }
        if (wide != nullptr) {
            auto* node = static_cast<PatternList*>(heapAlloc(heap, sizeof(PatternList)));
            node->next = nullptr;
            node->pattern = wide;
            *tail = node;
            tail = &node->next;
        }
        if (*end == 0) break;
        cursor = end + 1;
    }
    return first;
}
