// Wildcard pattern lists of /i and /o and the filter that applies them to file names.
#pragma once

#include <cstddef>

struct PrivateHeap;
struct SyncContext;

constexpr size_t kPatternChars = 256;   // one pattern, terminator included
constexpr size_t kPatternValueBytes = 1024; // the /i or /o value taken from the command line

struct PatternList {
    PatternList* next;
    char16_t* pattern;
};

PatternList* parsePatternList(PrivateHeap* heap, const char* value);
bool matchWildcard(const char16_t* name, const char16_t* pattern);
bool isIgnored(const SyncContext* context, const char16_t* name);
