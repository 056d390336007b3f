// The four conversions between the host's UTF-16 names and FILETIME times and the
// device's UTF-8 names and Unix seconds, and the console-safe forms of a text. Names
// are decoded strictly, so every name that decodes survives the round trip.
#include "support/encodings.h"

namespace {

// Added before the division by one second; the modes from 3 up also clear bit 0.
constexpr uint64_t kRoundingAddends[] = {
    0,         // 0: down to the second
    5000000,   // 1: nearest second, half up
    9999999,   // 2: up to the second
    0,         // 3: down to the even second
    10000000,  // 4: nearest even second
    19999999,  // 5: up to the even second
};
constexpr uint32_t kRoundingModes = sizeof kRoundingAddends / sizeof kRoundingAddends[0];
static_assert(kRoundingModes == 6, "one addend per rounding mode");

constexpr uint32_t kReplacement = 0xFFFD;  // stands for bytes that name no character

bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;  // a zero byte never is, so no read passes the terminator
}

}  // namespace

const char16_t* utf16ToUtf8(const char16_t* source, char* out, size_t capacity) {
    size_t left = capacity;
    unsigned char* p = reinterpret_cast<unsigned char*>(out);
    while (*source != 0) {
        uint32_t c = *source;
        size_t units = 1;
        if (c >= 0xD800 && c < 0xDC00 && source[1] >= 0xDC00 && source[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (source[1] - 0xDC00u);
            units = 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kReplacement;  // a lone half names no character
        }
        size_t bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (left < bytes + 1) break;  // the character and the terminator must both fit
        if (bytes == 1) {
            *p++ = static_cast<unsigned char>(c);
        } else {
            static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
            *p++ = static_cast<unsigned char>(kLead[bytes] | (c >> (6 * (bytes - 1))));
            for (size_t k = bytes - 1; k > 0; --k)
                *p++ = static_cast<unsigned char>(0x80 | ((c >> (6 * (k - 1))) & 0x3F));
        }
        left -= bytes;
        source += units;
    }
    *p = 0;
    return source;
}

bool utf8ToUtf16(const char* source, char16_t* out, size_t capacity) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
    size_t left = capacity;
    bool valid = true;
    while (s[0] != 0) {
        uint32_t c = s[0];
        size_t count = c < 0x80             ? 1
                       : (c & 0xE0) == 0xC0 ? 2
                       : (c & 0xF0) == 0xE0 ? 3
                       : (c & 0xF8) == 0xF0 ? 4
                                            : 0;
        static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (count > 1) {
            c &= 0x7Fu >> count;
            for (size_t k = 1; k < count && count != 0; ++k) {
                if (!isContinuation(s[k]))
                    count = 0;  // cut: the terminator stops it too
                else
                    c = (c << 6) | (s[k] & 0x3Fu);
            }
            if (count != 0 && (c < kLeast[count] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)))
                count = 0;
        }
        if (count == 0) {
            c = kReplacement;
            count = 1;
            valid = false;
        }
        size_t units = c >= 0x10000 ? 2 : 1;
        if (left < units + 1) {
            valid = false;
            break;
        }
        if (units == 2) {
            *out++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            *out++ = static_cast<char16_t>(c);
        }
        left -= units;
        s += count;
    }
    *out = 0;
    return valid;
}

bool isControlChar(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

void makeDisplaySafeWide(char16_t* text) {
    for (; *text != 0; ++text)
        if (isControlChar(*text)) *text = u'?';
}

size_t makeDisplaySafeBytes(char* text, size_t length) {
    size_t out = 0;
    for (size_t in = 0; in < length; ++in) {
        unsigned char c = static_cast<unsigned char>(text[in]);
        if (c == 0xC2 && in + 1 < length && static_cast<unsigned char>(text[in + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[in + 1]) < 0xA0) {
            ++in;  // a C1 control, such as CSI, written in UTF-8
            c = '?';
        } else if (c < 0x20 || c == 0x7F) {
            c = '?';
        }
        text[out++] = static_cast<char>(c);
    }
    text[out] = 0;
    return out;
}

bool unixToFileTime(uint32_t seconds, uint64_t* fileTime) {
    if (seconds == 0) return false;  // the device's "no time"
    *fileTime = uint64_t(seconds) * kFileTimePerSecond + kUnixEpochFileTime;
    return true;
}

static_assert(kUnixEpochFileTime % kFileTimePerSecond == 0, "the epoch is whole seconds");

bool unixToFileTime64(int64_t seconds, uint64_t* fileTime) {
    if (seconds == 0) return false;
    constexpr int64_t kFirst = -static_cast<int64_t>(kUnixEpochFileTime / kFileTimePerSecond);
    constexpr int64_t kLast =
        static_cast<int64_t>((~0ull - kUnixEpochFileTime) / kFileTimePerSecond);
    if (seconds < kFirst || seconds > kLast) return false;  // before 1601 or past FILETIME
    *fileTime = static_cast<uint64_t>(seconds - kFirst) * kFileTimePerSecond;
    return true;
}

bool fileTimeToUnix(uint64_t fileTime, uint32_t* seconds, uint32_t mode) {
    if (mode >= kRoundingModes) return false;
    uint64_t wide = 0;
    bool ok = fileTimeToUnix64(fileTime, &wide, mode);
    *seconds = static_cast<uint32_t>(wide);  // wraps after 2106-02-07 06:28:15 UTC
    return ok;
}

bool fileTimeToUnix64(uint64_t fileTime, uint64_t* seconds, uint32_t mode) {
    if (mode >= kRoundingModes) return false;
    if (fileTime < kUnixEpochFileTime) {
        *seconds = 0;
        return false;
    }
    // No overflow: a FILETIME is at most 2^64 - 1, the epoch takes more than the addend.
    uint64_t q = (fileTime - kUnixEpochFileTime + kRoundingAddends[mode]) / kFileTimePerSecond;
    if (mode >= 3) q &= ~uint64_t(1);
    *seconds = q;
    return true;
}
