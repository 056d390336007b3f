// Conversions between the host's UTF-16 names and FILETIME times and the device's
// UTF-8 names and 32-bit Unix seconds, with the six rounding modes of a reduction.
// Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;  // 1970-01-01 as FILETIME
constexpr uint64_t kFileTimePerSecond = 10000000ull;

// Encodes UTF-16 as UTF-8: a surrogate pair becomes one four-byte sequence, a lone
// surrogate U+FFFD. Writes at most capacity - 1 bytes and a terminator, never cut
// inside a character; returns where it stopped.
const char16_t* utf16ToUtf8(const char16_t* source, char* out, size_t capacity);
// Decodes UTF-8 strictly: overlong forms, encoded surrogates, values above U+10FFFF
// and cut sequences each give U+FFFD for their first byte; four-byte characters
// become surrogate pairs. Never reads past the terminator. True when the whole
// source was valid and fit.
bool utf8ToUtf16(const char* source, char16_t* out, size_t capacity);
// True for the characters never shown on the console: C0 controls, DEL, C1 controls.
bool isControlChar(uint32_t c);
// Shows every control character of a UTF-16 text as '?', in place.
void makeDisplaySafeWide(char16_t* text);
// The same for `length` bytes of narrow text (C1 controls as UTF-8 C2 80..C2 9F);
// returns the new length and terminates the text there.
size_t makeDisplaySafeBytes(char* text, size_t length);
// False for 0 seconds (out untouched). Not used by the run.
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
