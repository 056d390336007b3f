// The wildcard matcher against a slow reference (the full table of every name and
// pattern position), on short names and patterns drawn from a small alphabet so
// that '*' meets many partial matches; then the input as an /i value (parsed into
// patterns of every kind) applied to a deep folder and a file below it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "support/heap.h"
#include "tree/filetree.h"
#include "tree/patterns.h"

namespace {

constexpr size_t kMaxChars = 64;  // name and pattern characters

// The textbook table: match[i][j] says whether name[i..] matches pattern[j..].
bool reference(const char16_t* name, const char16_t* pattern) {
    size_t n = 0, p = 0;
    while (name[n] != 0) ++n;
    while (pattern[p] != 0) ++p;
    bool match[kMaxChars + 2][kMaxChars + 2] = {};
    match[n][p] = true;
    for (size_t j = p; j-- > 0;) {
        for (size_t i = n + 1; i-- > 0;) {
            if (pattern[j] == u'*') {
                match[i][j] = match[i][j + 1] || (i < n && match[i + 1][j]);
            } else {
                match[i][j] =
                    i < n && match[i + 1][j + 1] &&
                    (pattern[j] == u'?' || osUpperChar(pattern[j]) == osUpperChar(name[i]));
            }
        }
    }
    return match[0][0];
}

// The input as an /i value of at most 1023 bytes, against the folder a/b/.../x and
// the file y in it: must end, whatever it holds.
void filterValue(const uint8_t* data, size_t size) {
    static PrivateHeap heap;
    static FileNode nodes[64];
    static char16_t names[64][2];
    if (heap.base == nullptr) heapInit(&heap, kHeapStep);
    for (int i = 1; i < 64; ++i) {
        names[i][0] = i == 63 ? u'y' : i == 62 ? u'x' : char16_t(u'a' + i % 26);
        nodes[i].parent = &nodes[i - 1];
        nodes[i].name = names[i];
        nodes[i].mode = i == 63 ? kModeFile : kModeDirectory;
    }
    char value[kPatternValueBytes] = {};
    std::memcpy(value, data, size < sizeof value - 1 ? size : sizeof value - 1);
    heapBeginChunk(&heap, "value");
    PatternList* list = parsePatternList(&heap, value);
    isIgnored(list, list, &nodes[62]);
    isIgnored(list, list, &nodes[63]);
    heapEndChunk(&heap, "value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr char16_t kAlphabet[] = u"aAb*?\u00e9\u00c9.";
    char16_t name[kMaxChars + 1];
    char16_t pattern[kMaxChars + 1];
    size_t n = 0;
    size_t p = 0;
    for (size_t i = 0; i < size; ++i) {
        char16_t c = kAlphabet[data[i] & 7];
        bool toPattern = (data[i] & 8) != 0;
        if (toPattern && p < kMaxChars)
            pattern[p++] = c;
        else if (!toPattern && n < kMaxChars && c != u'*' && c != u'?')
            name[n++] = c;
    }
    name[n] = 0;
    pattern[p] = 0;
    if (matchWildcard(name, pattern) != reference(name, pattern)) std::abort();
    filterValue(data, size);
    return 0;
}
