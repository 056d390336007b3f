// Name rules of the host file systems that a device name must also pass: the names
// Windows would change or take for a device, and names equal without regard to case.
#include "support/hostnames.h"

#include <cstddef>
#include <iterator>

#include "platform/platform.h"

namespace {

// Device names that take no digit, and those that take one digit after them.
constexpr const char* kPlainDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
constexpr const char* kNumberedDevices[] = {"COM", "LPT"};
static_assert(std::size(kPlainDevices) == 6 && std::size(kNumberedDevices) == 2);

// '0'..'9' and the superscript digits that Windows also reads as 1, 2 and 3.
bool isDeviceDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
}

char16_t upperAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// The length of `word` when `name` begins with it (any case), else 0.
size_t startsWith(const char16_t* name, const char* word) {
    size_t n = 0;
    for (; word[n] != 0; ++n)
        if (upperAscii(name[n]) != static_cast<char16_t>(word[n])) return 0;
    return n;
}

}  // namespace

bool isWindowsChangedName(const char16_t* name) {
    size_t length = 0;
    while (name[length] != 0) ++length;
    if (length == 0) return false;
    if (name[length - 1] == u'.' || name[length - 1] == u' ') return true;
    auto endsBase = [&](size_t n) { return n != 0 && (name[n] == 0 || name[n] == u'.'); };
    for (const char* device : kPlainDevices)
        if (endsBase(startsWith(name, device))) return true;
    for (const char* device : kNumberedDevices) {
        size_t n = startsWith(name, device);
        if (n != 0 && isDeviceDigit(name[n]) && endsBase(n + 1)) return true;
    }
    return false;
}

bool namesEqualFoldingCase(const char16_t* a, const char16_t* b) {
    for (; *a != 0 && *b != 0; ++a, ++b)
        if (*a != *b && osUpperChar(*a) != osUpperChar(*b)) return false;
    return *a == *b;
}
