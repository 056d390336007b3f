// Win32: which characters a host file name component can hold (the rest would make
// a name a path, a stream name or a wildcard), and the Windows name rules.
#include <cstring>

#include "platform/platform.h"

namespace {
constexpr char16_t kFirstPrintable = 0x20;
constexpr char kForbidden[] = "/\\:*?\"<>|";
}  // namespace

bool osValidNameChar(char16_t c) {
    if (c < kFirstPrintable) return false;
    return c > 0x7F || std::strchr(kForbidden, static_cast<char>(c)) == nullptr;
}

bool osWindowsNames() {
    return true;
}
