// The four conversions between the host's UTF-16 names and FILETIME times and the
// device's UTF-8 names and Unix seconds. Byte for byte as the device side expects:
// every UTF-16 unit is encoded by itself and nothing is validated.
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

bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;   // a zero byte never is, so no read passes the terminator
}

}  // namespace

const char16_t* utf16ToUtf8(const char16_t* source, char* out, size_t capacity) {
    size_t left = capacity;
    unsigned char* p = reinterpret_cast<unsigned char*>(out);
    for (; *source != 0; ++source) {
        uint32_t u = *source;
        size_t bytes = u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
        if (left < bytes + 1) break;   // the unit and the terminator must both fit
        if (bytes == 1) {
            *p++ = static_cast<unsigned char>(u);
        } else if (bytes == 2) {
            *p++ = static_cast<unsigned char>(0xC0 | (u >> 6));
            *p++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            *p++ = static_cast<unsigned char>(0xE0 | (u >> 12));
            *p++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *p++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
        left -= bytes;
    }
    *p = 0;
    return source;
}

void utf8ToUtf16(const char* source, char16_t* out, size_t capacity) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
    size_t left = capacity;
    while (s[0] != 0 && left > 1) {
        uint32_t unit;
        unsigned char b0 = s[0];
        if (b0 < 0x80) {
            unit = b0;
            s += 1;
        } else if ((b0 & 0xE0) == 0xC0 && isContinuation(s[1])) {
            unit = ((b0 & 0x1Fu) << 6) | (s[1] & 0x3Fu);
            s += 2;
        } else if ((b0 & 0xF0) == 0xE0 && isContinuation(s[1]) && isContinuation(s[2])) {
            unit = ((b0 & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
            s += 3;
        } else if ((b0 & 0xF8) == 0xF0 && isContinuation(s[1]) && isContinuation(s[2]) &&
                   isContinuation(s[3])) {
            // No surrogate pair: the device names this way, the unit is the low 16 bits.
            unit = ((b0 & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) |
                   (s[3] & 0x3Fu);
            s += 4;
        } else {
            unit = 0xFFFF;
            s += 1;
        }
        *out++ = static_cast<char16_t>(unit);
        --left;
    }
    *out = 0;
}

bool unixToFileTime(uint32_t seconds, uint64_t* fileTime) {
    if (seconds == 0) return false;   // the device's "no time"
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
