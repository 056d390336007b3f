// Conversions between the host's UTF-16 names and FILETIME times and the device's
// UTF-8 names and 32-bit Unix seconds, with the six rounding modes of a reduction.
// Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull; // 1970-01-01 as FILETIME
constexpr uint64_t kFileTimePerSecond = 10000000ull;

// Encodes each UTF-16 unit by itself (surrogate halves become three bytes each);
// writes at most capacity - 1 bytes and a terminator; returns where it stopped.
const char16_t* utf16ToUtf8(const char16_t* source, char* out, size_t capacity);
// Decodes UTF-8 (0xFFFF for a bad byte, low 16 bits of a four-byte sequence);
// never reads past the terminator.
void utf8ToUtf16(const char* source, char16_t* out, size_t capacity);
// False for 0 seconds (out untouched).
bool unixToFileTime(uint32_t seconds, uint64_t* fileTime);
// The device's 64-bit signed seconds: false for 0 and for times a FILETIME cannot
// hold (before 1601), out untouched.
bool unixToFileTime64(int64_t seconds, uint64_t* fileTime);
// False for a mode above 5 (out untouched), false with out = 0 before 1970.
bool fileTimeToUnix(uint64_t fileTime, uint32_t* seconds, uint32_t mode);
// The same without the 32-bit limit, for times after 2106.
bool fileTimeToUnix64(uint64_t fileTime, uint64_t* seconds, uint32_t mode);

// Length of a UTF-16 text in units; 0 for null.
inline size_t wideLength(const char16_t* text) {
    return text != nullptr ? std::char_traits<char16_t>::length(text) : 0;
}
