// Name and time encodings: the byte forms of UTF-16 units, the decoding of good and
// bad UTF-8, the epoch conversion and the six rounding modes.
#include <gtest/gtest.h>

#include <string>

#include "support/encodings.h"

namespace {

std::string encode(const std::u16string& text, size_t capacity = 64) {
    char out[64];
    const char16_t* stop = utf16ToUtf8(text.c_str(), out, capacity);
    EXPECT_LE(stop - text.c_str(), static_cast<ptrdiff_t>(text.size()));
    return out;
}

std::u16string decode(const std::string& bytes, size_t capacity = 64) {
    char16_t out[64];
    utf8ToUtf16(bytes.c_str(), out, capacity);
    return out;
}

TEST(Utf16ToUtf8, EncodesCharactersAndPairs) {
    EXPECT_EQ(encode(u"abc"), "abc");
    EXPECT_EQ(encode(u"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(encode(u"\u07ff\u0800"), "\xDF\xBF\xE0\xA0\x80");
    EXPECT_EQ(encode(u"\u20ac"), "\xE2\x82\xAC");
    EXPECT_EQ(encode(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");  // one character
    EXPECT_EQ(encode(std::u16string{0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(encode(std::u16string{0xD83D, u'a'}),
              "\xEF\xBF\xBD"
              "a");  // a lone half
    EXPECT_EQ(encode(u"\uffff"), "\xEF\xBF\xBF");
    EXPECT_EQ(encode(std::u16string{u'x', 0xD83D, 0xDE00}, 5), "x");  // never cut inside
}

TEST(Utf16ToUtf8, CutsBetweenCharactersAndReportsWhereItStopped) {
    const char16_t source[] = u"a\u00e9";
    char out[8];
    EXPECT_EQ(utf16ToUtf8(source, out, 3), source + 1);
    EXPECT_STREQ(out, "a");
    EXPECT_EQ(utf16ToUtf8(source, out, 4), source + 2);
    EXPECT_STREQ(out, "a\xC3\xA9");
    EXPECT_EQ(utf16ToUtf8(source, out, 1), source);
    EXPECT_STREQ(out, "");
    const char16_t euro[] = u"x\u20ac";
    EXPECT_EQ(utf16ToUtf8(euro, out, 4), euro + 1);  // three bytes and the terminator need 4
    EXPECT_EQ(utf16ToUtf8(euro, out, 5), euro + 2);
}

// Strict decoding: every form that is not the one shortest encoding of a character
// gives U+FFFD for its first byte and a false result.
TEST(Utf8ToUtf16, DecodesStrictly) {
    struct Row {
        std::string in;
        std::u16string out;
        bool valid;
    };
    const Row rows[] = {
        {"abc", u"abc", true},
        {"\xC3\xA9", u"\u00e9", true},
        {"\xE2\x82\xAC", u"\u20ac", true},
        {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}, true},
        {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}, true},
        {"\xC0\xAE\xC0\xAE", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}, false},  // overlong ".."
        {"\xC1\xA1", {0xFFFD, 0xFFFD}, false},                          // overlong "a"
        {"\xE0\x80\xAE", {0xFFFD, 0xFFFD, 0xFFFD}, false},
        {"\xED\xA0\xBD\xED\xB8\x80", std::u16string(6, 0xFFFD), false},  // encoded halves
        {"\xF4\x90\x80\x80", std::u16string(4, 0xFFFD), false},          // above U+10FFFF
        {"\xFF", {0xFFFD}, false},
        {"\xC3", {0xFFFD}, false},
        {"\x80z", {0xFFFD, u'z'}, false},
        {"\xC3(a", {0xFFFD, u'(', u'a'}, false},
    };
    for (const Row& row : rows) {
        char16_t out[64];
        EXPECT_EQ(utf8ToUtf16(row.in.c_str(), out, 64), row.valid) << row.in;
        EXPECT_EQ(std::u16string(out), row.out) << row.in;
    }
    // The bytes behind a cut-off sequence are never read: this buffer ends right there.
    const char tail[] = {'\xF0', '\x9F', '\0'};
    char16_t out[4];
    EXPECT_FALSE(utf8ToUtf16(tail, out, 4));
    EXPECT_EQ(std::u16string(out), (std::u16string{0xFFFD, 0xFFFD}));
    // A pair never splits at the capacity.
    EXPECT_FALSE(utf8ToUtf16("a\xF0\x9F\x98\x80", out, 3));
    EXPECT_EQ(std::u16string(out), u"a");
}

TEST(DisplaySafe, ControlsBecomeQuestionMarks) {
    std::u16string wide = u"a\x1b]0;x\x07\n\u0085\u009b\u00a0\u007f";
    makeDisplaySafeWide(wide.data());
    EXPECT_EQ(wide, u"a?]0;x????\u00a0?");
}

TEST(Utf8ToUtf16, StopsAtTheCapacity) {
    EXPECT_EQ(decode("abcdef", 4), u"abc");
    EXPECT_EQ(decode("abc", 1), u"");
}

TEST(Utf8Utf16, RoundTripsEveryPlane) {
    std::u16string all;
    for (char32_t c = 1; c < 0x110000; c += 7) {
        if (c >= 0xD800 && c < 0xE000) continue;
        if (c < 0x10000) {
            all.push_back(static_cast<char16_t>(c));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    std::string bytes(all.size() * 3 + 1, '\0');
    utf16ToUtf8(all.c_str(), bytes.data(), bytes.size());
    std::u16string back(all.size() + 1, u'\0');
    EXPECT_TRUE(utf8ToUtf16(bytes.c_str(), back.data(), back.size()));
    back.resize(all.size());
    EXPECT_EQ(back, all);
}

TEST(UnixToFileTime, ConvertsAndRefusesZero) {
    uint64_t ft = 42;
    EXPECT_FALSE(unixToFileTime(0, &ft));
    EXPECT_EQ(ft, 42u);
    EXPECT_TRUE(unixToFileTime(1, &ft));
    EXPECT_EQ(ft, 116444736010000000ull);
    EXPECT_TRUE(unixToFileTime(0xFFFFFFFFu, &ft));
    EXPECT_EQ(ft, 0xFFFFFFFFull * 10000000ull + 116444736000000000ull);
}

TEST(UnixToFileTime64, SignedSecondsWithinWhatAFileTimeHolds) {
    struct Row {
        int64_t seconds;
        bool ok;
        uint64_t fileTime;
    };
    const uint64_t last = ~0ull / 10000000ull * 10000000ull;  // the last whole second
    const Row rows[] = {{0, false, 42},
                        {1, true, 116444736010000000ull},
                        {5000000000, true, 5000000000ull * 10000000ull + 116444736000000000ull},
                        {-11644473600, true, 0},
                        {-11644473601, false, 42},
                        {static_cast<int64_t>(last / 10000000ull) - 11644473600, true, last},
                        {static_cast<int64_t>(last / 10000000ull) - 11644473599, false, 42},
                        {INT64_MIN, false, 42},
                        {INT64_MAX, false, 42}};
    for (const Row& row : rows) {
        uint64_t ft = 42;
        EXPECT_EQ(unixToFileTime64(row.seconds, &ft), row.ok) << row.seconds;
        EXPECT_EQ(ft, row.fileTime) << row.seconds;
        uint64_t back = 0;
        if (row.ok && row.seconds > 0) {
            EXPECT_TRUE(fileTimeToUnix64(ft, &back, 0));
            EXPECT_EQ(back, static_cast<uint64_t>(row.seconds));
        }
    }
}

struct RoundingRow {
    uint64_t tenthsOfMicro;  // 100 ns units after 1970
    uint32_t expected[6];    // modes 0..5
};

TEST(FileTimeToUnix, RoundsInEachMode) {
    const RoundingRow rows[] = {
        {0, {0, 0, 0, 0, 0, 0}},        {15000000, {1, 2, 2, 0, 2, 2}},  // 1.5 s
        {25000000, {2, 3, 3, 2, 2, 4}},                                  // 2.5 s
        {10000000, {1, 1, 1, 0, 2, 2}},                                  // 1.0 s
        {30000000, {3, 3, 3, 2, 4, 4}},                                  // 3.0 s
        {14999999, {1, 1, 2, 0, 2, 2}},                                  // just under 1.5 s
        {20000000, {2, 2, 2, 2, 2, 2}},                                  // 2.0 s
        {20000001, {2, 2, 3, 2, 2, 4}},                                  // just over 2.0 s
    };
    for (const RoundingRow& row : rows) {
        for (uint32_t mode = 0; mode < 6; ++mode) {
            uint32_t seconds = 99;
            EXPECT_TRUE(fileTimeToUnix(kUnixEpochFileTime + row.tenthsOfMicro, &seconds, mode));
            EXPECT_EQ(seconds, row.expected[mode]) << row.tenthsOfMicro << " mode " << mode;
        }
    }
}

TEST(FileTimeToUnix, RefusesBadModesAndTimesBefore1970) {
    uint32_t seconds = 7;
    EXPECT_FALSE(fileTimeToUnix(kUnixEpochFileTime + 10000000, &seconds, 6));
    EXPECT_EQ(seconds, 7u);
    EXPECT_FALSE(fileTimeToUnix(kUnixEpochFileTime - 1, &seconds, 0));
    EXPECT_EQ(seconds, 0u);
}

TEST(FileTimeToUnix, InvertsUnixToFileTimeAndWrapsAfter2106) {
    for (uint32_t t : {1u, 2u, 1234567890u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        uint64_t ft = 0;
        uint32_t back = 0;
        ASSERT_TRUE(unixToFileTime(t, &ft));
        EXPECT_TRUE(fileTimeToUnix(ft, &back, 0));
        EXPECT_EQ(back, t);
    }
    uint32_t wrapped = 0;
    EXPECT_TRUE(
        fileTimeToUnix(kUnixEpochFileTime + 0x100000005ull * kFileTimePerSecond, &wrapped, 0));
    EXPECT_EQ(wrapped, 5u);
}

}  // namespace
