// Wildcard pattern lists of /i and /o and the filter that applies them to file names.
// Raise: parsePatternList, when the heap is full. The matchers never raise.
#pragma once

#include <cstddef>

struct PrivateHeap;

constexpr size_t kPatternChars = 256;  // the usual longest pattern (255 characters and terminator);
                                       // a longer one is kept whole, see parsePatternList
constexpr size_t kPatternValueBytes = 1024;  // the /i or /o value taken from the command line

struct PatternList {
    PatternList* next;
    char16_t* pattern;
};

// Splits a ';'-separated value into patterns (blanks around each entry dropped,
// empty entries skipped), allocated from `heap`. Null when the value holds none.
// A pattern is never cut: one longer than 255 characters is kept as given, since a
// cut pattern would match names the user did not describe.
PatternList* parsePatternList(PrivateHeap* heap, const char* value);
// '*' any run of characters, '?' exactly one, others compared upper-cased one by one.
bool matchWildcard(const char16_t* name, const char16_t* pattern);
// True when /i matches the name, or /o is given and none of its patterns matches.
bool isIgnored(const PatternList* ignore, const PatternList* only, const char16_t* name);
