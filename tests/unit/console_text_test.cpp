// The OS layer's text conversions, upper-casing and the failure hooks, on whichever
// back end the tests were built for.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

constexpr size_t kUnits = 64;  // conversion buffers of the tests

// POSIX narrow text is UTF-8; Windows narrow text is the ANSI code page.
bool narrowIsUtf8() {
    return osPathSeparator() == u'/';
}

std::string toNarrow(const std::u16string& wide, size_t capacity = kUnits) {
    char out[kUnits];
    size_t length = osWideToNarrow(wide.c_str(), out, capacity);
    EXPECT_EQ(length, std::string(out).size());
    return std::string(out, length);
}

std::u16string toWide(const std::string& narrow, size_t capacity = kUnits) {
    char16_t out[kUnits];
    size_t length = osNarrowToWide(narrow.c_str(), out, capacity);
    EXPECT_EQ(length, std::u16string(out).size());
    return std::u16string(out, length);
}

}  // namespace

TEST(NarrowText, AsciiRoundTripAndCutAtCapacity) {
    EXPECT_EQ(toNarrow(u"sdcard/DCIM a.jpg"), "sdcard/DCIM a.jpg");
    EXPECT_EQ(toWide("sdcard/DCIM a.jpg"), u"sdcard/DCIM a.jpg");
    EXPECT_EQ(toNarrow(u"abcdef", 4), "abc");
    EXPECT_EQ(toWide("abcdef", 4), u"abc");
    EXPECT_EQ(toNarrow(u""), "");
}

TEST(NarrowText, Utf8Forms) {
    if (!narrowIsUtf8()) {
        GTEST_SKIP() << "narrow text is the ANSI code page here";
    }
    EXPECT_EQ(toNarrow(u"\u00E9t\u00E9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(toNarrow(u"\u20AC"), "\xE2\x82\xAC");
    EXPECT_EQ(toNarrow(u"\U0001F600"), "\xF0\x9F\x98\x80");  // a surrogate pair, combined
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(toNarrow(lone), "a?b?");
    // A character that does not fit whole is left out.
    EXPECT_EQ(toNarrow(u"a\u00E9", 3), "a");
    EXPECT_EQ(toNarrow(u"a\U0001F600", 5), "a");

    EXPECT_EQ(toWide("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
    EXPECT_EQ(toWide("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(toWide("a\U0001F600", 3), u"a");  // no half of a pair
    // Invalid input: stray continuation, overlong '/', encoded surrogate, cut sequence.
    EXPECT_EQ(toWide("a\x80z"), u"a\uFFFDz");
    EXPECT_EQ(toWide("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(toWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(toWide("x\xE2\x82"), u"x\uFFFD\uFFFD");
}

TEST(UpperChar, CommonScripts) {
    struct Row {
        char16_t in;
        char16_t out;
    };
    const Row rows[] = {
        {u'a', u'A'},     {u'z', u'Z'}, {u'A', u'A'}, {u'1', u'1'}, {0x00E9, 0x00C9},  // é
        {0x00F7, 0x00F7},  // division sign stays
        {0x00FF, 0x0178},  // ÿ
        {0x0101, 0x0100},  // ā
        {0x0100, 0x0100},  // Ā stays
        {0x013E, 0x013D},  // ľ
        {0x017E, 0x017D},  // ž
        {0x03C9, 0x03A9},  // ω
        {0x03C2, 0x03C2},  // final sigma stays: its capital maps back to σ
        {0x03AC, 0x0386},  // ά
        {0x044F, 0x042F},  // я
        {0x0451, 0x0401},  // ё
        {0x0491, 0x0490},  // ґ
        {0x4E2D, 0x4E2D},  // a CJK ideograph has no case
    };
    for (const Row& row : rows) {
        EXPECT_EQ(static_cast<int>(osUpperChar(row.in)), static_cast<int>(row.out))
            << std::hex << static_cast<int>(row.in);
    }
}

TEST(FailHooks, OnlyTheChosenCallFails) {
    osFailCall(OS_WRITE, 3);
    EXPECT_FALSE(osShouldFail(OS_WRITE));
    EXPECT_FALSE(osShouldFail(OS_READ));  // other kinds are not counted
    EXPECT_FALSE(osShouldFail(OS_WRITE));
    EXPECT_TRUE(osShouldFail(OS_WRITE));
    EXPECT_FALSE(osShouldFail(OS_WRITE));

    osFailCall(OS_MKDIR, 1);
    osFailCall(OS_MKDIR, 0);  // cleared before it fired
    EXPECT_FALSE(osShouldFail(OS_MKDIR));
}
