// The POSIX back end's one UTF-8 codec: host names, console text and the narrow
// forms all pass through these, so every conversion agrees on what is valid.
#pragma once

#include <cstddef>

namespace posixutf8 {

constexpr char32_t kInvalid = 0xFFFFFFFF;  // no code point: a bad sequence or lone surrogate
constexpr size_t kMaxBytes = 4;            // longest UTF-8 sequence

inline bool isHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool isLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The code point at wide[*i], a surrogate pair combined; advances *i. A lone
// surrogate yields kInvalid (and is passed over).
inline char32_t nextWide(const char16_t* wide, size_t* i) {
    char32_t c = wide[(*i)++];
    if (isHighSurrogate(c) && isLowSurrogate(wide[*i]))
        return 0x10000 + ((c - 0xD800) << 10) + (wide[(*i)++] - 0xDC00);
    return isHighSurrogate(c) || isLowSurrogate(c) ? kInvalid : c;
}

// Writes the UTF-8 form of a code point (at most kMaxBytes); returns its length.
inline size_t encode(char32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Decodes one sequence at `s`, setting `used` to the bytes taken. An invalid one (bad
// lead byte, missing continuation, overlong form, surrogate, beyond U+10FFFF) takes
// one byte and yields kInvalid. Never reads past a terminator.
inline char32_t decode(const unsigned char* s, size_t* used) {
    *used = 1;
    unsigned char lead = s[0];
    if (lead < 0x80) return lead;
    size_t count;
    char32_t c;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
        c = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        c = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        c = lead & 0x07;
        minimum = 0x10000;
    } else {
        return kInvalid;
    }
    for (size_t i = 1; i < count; ++i) {
        if ((s[i] & 0xC0) != 0x80) return kInvalid;  // also stops at the terminator
        c = (c << 6) | (s[i] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kInvalid;
    *used = count;
    return c;
}

// Stores a code point as one or two UTF-16 units at out[*n]; false, nothing stored,
// when they and a terminator do not fit `capacity`.
inline bool putWide(char32_t c, char16_t* out, size_t* n, size_t capacity) {
    size_t units = c >= 0x10000 ? 2 : 1;
    if (*n + units + 1 > capacity) return false;
    if (units == 2) {
        out[(*n)++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out[(*n)++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        out[(*n)++] = static_cast<char16_t>(c);
    }
    return true;
}

}  // namespace posixutf8
