// The wildcard matcher against a slow reference: plain recursion over every split,
// on short names and patterns drawn from a small alphabet so that '*' meets many
// partial matches.
#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"
#include "tree/patterns.h"

namespace {

constexpr size_t kMaxChars = 24;   // keeps the reference's exponential search small

bool reference(const char16_t* name, const char16_t* pattern) {
    if (*pattern == 0) return *name == 0;
    if (*pattern == u'*') {
        for (const char16_t* rest = name;; ++rest) {
            if (reference(rest, pattern + 1)) return true;
            if (*rest == 0) return false;
        }
    }
    if (*name == 0) return false;
    if (*pattern != u'?' && osUpperChar(*pattern) != osUpperChar(*name)) return false;
    return reference(name + 1, pattern + 1);
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
        if (toPattern && p < kMaxChars) pattern[p++] = c;
        else if (!toPattern && n < kMaxChars && c != u'*' && c != u'?') name[n++] = c;
    }
    name[n] = 0;
    pattern[p] = 0;
    if (matchWildcard(name, pattern) != reference(name, pattern)) std::abort();
    return 0;
}
