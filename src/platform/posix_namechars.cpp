// POSIX: which characters a host file name component can hold (all but '/' and NUL),
// and which name rules apply (none beyond that).
#include "platform/platform.h"

bool osValidNameChar(char16_t c) {
    return c != u'/' && c != 0;
}

bool osWindowsNames() {
    return false;
}
