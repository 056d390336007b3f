// Tests of the date, time and duration text: the calendar against <chrono>, every
// pattern token, flag words, durations, zones and the far end of the FILETIME range.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "platform/platform.h"
#include "support/timetext.h"

namespace {

using namespace std::chrono;

constexpr uint64_t kSecond = 10000000ull;
constexpr uint64_t kMinute = 60 * kSecond;
constexpr uint64_t kHour = 60 * kMinute;
constexpr uint64_t kDay = 24 * kHour;
constexpr int64_t kDays1601To1970 = 134774;
constexpr size_t kOutSize = 256;

// Days from 1601-01-01 by <chrono>, an independent calendar.
uint64_t dayOf(int y, unsigned m, unsigned d) {
    auto days = sys_days(year(y) / month(m) / day(d)).time_since_epoch().count();
    return static_cast<uint64_t>(days + kDays1601To1970);
}

uint64_t fileTime(int y, unsigned m, unsigned d, unsigned hh = 0, unsigned mm = 0, unsigned ss = 0,
                  uint64_t fraction = 0) {
    return dayOf(y, m, d) * kDay + hh * kHour + mm * kMinute + ss * kSecond + fraction;
}

std::string pattern(uint64_t time, const char* text, const TimeZoneEntry* zone = nullptr,
                    size_t limit = kOutSize) {
    char out[kOutSize];
    int count = formatTimePattern(&time, kLocaleEnglishUs, zone, text, out, limit);
    EXPECT_EQ(static_cast<size_t>(count), strlen(out)) << text;
    return out;
}

std::string fileText(uint64_t time, uint32_t flags) {
    char out[kOutSize];
    int count = formatFileTime(&time, out, sizeof out, flags);
    EXPECT_EQ(static_cast<size_t>(count), strlen(out));
    return out;
}

std::string duration(uint64_t value, uint32_t flags) {
    char out[kDurationChars];
    memset(out, 'Z', sizeof out);
    formatDuration(value, out, flags);
    EXPECT_NE(memchr(out, '\0', sizeof out), nullptr);
    return out;
}

// 2021-03-07 (a Sunday) 08:05:09.9876543 UTC
const uint64_t kSample = fileTime(2021, 3, 7, 8, 5, 9, 9876543);

TEST(TimeTextCalendar, FieldsAgreeWithChrono) {
    // Every day of the first two 400-year cycles, then a sparse walk to year 32000.
    uint64_t last = dayOf(32000, 1, 1);
    for (uint64_t d = 0; d < last; d += (d < 2 * 146097 ? 1 : 97)) {
        TimeFields f;
        fileTimeToFields(d * kDay + 13 * kHour + 7 * kSecond + 5, &f);
        year_month_day ymd{sys_days(days(static_cast<int64_t>(d) - kDays1601To1970))};
        weekday wd{sys_days(days(static_cast<int64_t>(d) - kDays1601To1970))};
        ASSERT_EQ(f.year, static_cast<int>(ymd.year())) << d;
        ASSERT_EQ(f.month, static_cast<unsigned>(ymd.month())) << d;
        ASSERT_EQ(f.day, static_cast<unsigned>(ymd.day())) << d;
        ASSERT_EQ(f.weekday, wd.iso_encoding() - 1) << d;
        ASSERT_EQ(f.leapYear, ymd.year().is_leap() ? 1 : 0) << d;
        ASSERT_EQ(f.dayNumber, d);
        ASSERT_EQ(f.hour, 13);
        ASSERT_EQ(f.minute, 0);
        ASSERT_EQ(f.second, 7);
        ASSERT_EQ(f.fraction, 5u);
    }
}

TEST(TimeTextCalendar, YearsCountedFromYearOne) {
    const sys_days one = sys_days(year(1) / 1 / 1);
    for (int y = 1; y <= 10000; y++) {
        uint32_t first = static_cast<uint32_t>((sys_days(year(y) / 1 / 1) - one).count());
        ASSERT_EQ(firstDayOfYear(static_cast<uint32_t>(y)), first) << y;
        ASSERT_EQ(yearOfDay(first), static_cast<uint32_t>(y)) << y;
        if (y > 1) {
            ASSERT_EQ(yearOfDay(first - 1), static_cast<uint32_t>(y - 1)) << y;
        }
    }
    EXPECT_EQ(firstDayOfYear(1601), 584388u);
    EXPECT_EQ(yearOfDay(146096), 400u);  // the last day of the first cycle
    EXPECT_EQ(yearOfDay(146097), 401u);
}

TEST(TimeTextCalendar, LeapYears) {
    const struct {
        uint32_t year;
        bool leap;
    } rows[] = {
        {1600, true}, {1700, false}, {1900, false}, {2000, true},
        {2020, true}, {2021, false}, {2100, false}, {2400, true},
    };
    for (const auto& row : rows) EXPECT_EQ(isLeapYear(row.year), row.leap) << row.year;
}

TEST(TimeTextCalendar, IsoWeeksAtYearBoundaries) {
    const struct {
        int y;
        unsigned m, d;
        uint32_t week;
    } rows[] = {
        {2020, 12, 31, 53}, {2021, 1, 3, 53},  {2021, 1, 4, 1},  {2018, 12, 31, 1},
        {2019, 12, 30, 1},  {2016, 1, 1, 53},  {2017, 1, 1, 52}, {1601, 1, 1, 1},
        {2004, 12, 31, 53}, {2008, 12, 29, 1}, {1700, 1, 1, 53}, {2000, 1, 2, 52},
        {9999, 12, 31, 52}, {2021, 3, 7, 9},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(isoWeekNumber(fileTime(row.y, row.m, row.d, 23, 59, 59)), row.week)
            << row.y << "-" << row.m << "-" << row.d;
    }
}

TEST(TimeTextCalendar, IsoWeeksAdvanceOnMondays) {
    // Week numbers change only on Mondays: one up, or back to 1 after week 52 or 53,
    // and January 4 is always in week 1.
    uint32_t previous = isoWeekNumber(0);
    for (uint64_t d = 1; d < dayOf(2800, 1, 1); d++) {
        uint32_t week = isoWeekNumber(d * kDay);
        TimeFields f;
        fileTimeToFields(d * kDay, &f);
        if (f.weekday != 0) {
            ASSERT_EQ(week, previous) << d;
        } else if (week != previous + 1) {
            ASSERT_TRUE(week == 1 && (previous == 52 || previous == 53)) << d;
        }
        if (f.month == 1 && f.day == 4) {
            ASSERT_EQ(week, 1u) << d;
        }
        previous = week;
    }
}

TEST(TimeTextFlagWord, ListingColumn) {
    const struct {
        uint64_t time;
        const char* text;
    } rows[] = {
        {0, "1601-01-01 00:00"},
        {fileTime(2020, 2, 29, 12, 34, 56), "2020-02-29 12:34"},
        {fileTime(2019, 12, 31, 23, 59, 59, 9999999), "2019-12-31 23:59"},  // seconds cut
        {fileTime(2020, 7, 6, 14, 45, 59), "2020-07-06 14:45"},
    };
    for (const auto& row : rows) {
        char out[17];
        EXPECT_EQ(formatFileTime(&row.time, out, sizeof out, kListTimeFlags), 16);
        EXPECT_STREQ(out, row.text);
    }
}

TEST(TimeTextFlagWord, EveryField) {
    const struct {
        uint32_t flags;
        const char* text;
    } rows[] = {
        {0x200 | 0x80 | 0x3C, "2021-03-07 08:05:09.987"},
        {0x200 | 0x100 | 0x30, "2021-03-07  08:05"},
        {0x200 | 0x180 | 0x30, "2021-03-0708:05"},
        {0x200 | 0x80 | 0x08, "2021-03-07 09"},
        {0x200 | 0x80 | 0x18, "2021-03-07 05:09"},
        {0x200 | 0x80 | 0x28, "2021-03-07 08:09"},
        {0x200, "2021-03-07"},
        {0x30, "08:05"},
        {0x82B2, "2021-03-07 08:05 UTC"},
        {0x42B2, "2021-03-07 08:05 GMT"},
        {0x42B3, "2021-03-07 08:05 GMT()"},  // "+z" of offset 0 is empty
        {0xC2B2, "2021-03-07 08:05 "},       // no zone token for 0xC000
        {0x82B1, "2021-03-07 08:05"},        // bit 0 needs bit 1
        {0x20000 | 0x400 | 0x100 | 0x38, "3/7/2021  08:05:09"},
        {0x20000 | 0x800 | 0x80 | 0x40, "March 7, 2021 8:05:09 AM"},
        {0x20000 | 0x1000 | 0x80 | 0x40, "Sunday, March 7, 2021 8:05:09 AM"},
        {0x20000 | 0x1E00 | 0x80 | 0x30, " 08:05"},  // no date part for other values
    };
    for (const auto& row : rows)
        EXPECT_EQ(fileText(kSample, row.flags), row.text) << std::hex << row.flags;
}

TEST(TimeTextFlagWord, LocalZoneShiftsACopy) {
    // Bit 13 moves the time to the computer's zone and names that zone.
    uint64_t time = kSample;
    char out[kOutSize];
    formatFileTime(&time, out, sizeof out, 0x20000 | 0x2000 | 0x2B3);
    EXPECT_EQ(time, kSample);
    const TimeZoneEntry* zone = localTimeZone();
    uint64_t shifted = kSample;
    ASSERT_TRUE(shiftTimeZone(&shifted, defaultTimeZone(), zone));
    EXPECT_EQ(static_cast<int64_t>(shifted - kSample),
              zone->offsetMinutes * static_cast<int64_t>(kMinute));
    EXPECT_EQ(out, pattern(shifted, "yyyy-MM-dd HH:mm zzz(+z)", zone));
}

TEST(TimeTextFlagWord, NullTimeIsNow) {
    uint64_t before = osSystemTimeAsFileTime();
    char out[kOutSize];
    formatFileTime(nullptr, out, sizeof out, 0x200);
    uint64_t after = osSystemTimeAsFileTime();
    // The date of either instant (the call may straddle midnight).
    EXPECT_TRUE(out == pattern(before, "yyyy-MM-dd") || out == pattern(after, "yyyy-MM-dd")) << out;
}

TEST(TimeTextPattern, EveryToken) {
    const TimeZoneEntry zone = {"CEST", "Central European Summer Time", 120, 2};
    const struct {
        const char* pattern;
        const char* text;
    } rows[] = {
        {"yyyy", "2021"},
        {"yy", "21"},
        {"MMMM", "March"},
        {"MMM", "Mar"},
        {"MM", "03"},
        {"M", "3"},
        {"dddd", "Sunday"},
        {"ddd", "Sun"},
        {"dd", "07"},
        {"d", "7"},
        {"kw", "9"},
        {"unix", "1615104310"},
        {"mjd", "59280"},
        {"HH", "08"},
        {"H", "8"},
        {"hh", "08"},
        {"h", "8"},
        {"mm", "05"},
        {"m", "5"},
        {"ss", "09"},
        {"s", "9"},
        {"tt", "AM"},
        {"xxxxxxx", "9876543"},
        {"xxxxxx", "987654"},
        {"xxxxx", "98765"},
        {"xxxx", "9876"},
        {"xxx", "987"},
        {"xx", "98"},
        {"x", "9"},
        {"zzzz", "Central European Summer Time"},
        {"zzz", "CEST"},
        {"+zzzz", "+0200"},
        {"+zz", "+02"},
        {"+z", "+2"},
        {"UTC", "UTC"},
        {"GMT", "GMT"},
    };
    static_assert(sizeof(rows) / sizeof(rows[0]) == 36, "one row per token");
    for (const auto& row : rows)
        EXPECT_EQ(pattern(kSample, row.pattern, &zone), row.text) << row.pattern;
}

TEST(TimeTextPattern, LiteralsAndNamedFormats) {
    const struct {
        const char* pattern;
        const char* text;
    } rows[] = {
        {"yyy", "21y"},
        {"y", "y"},
        {"t", "t"},
        {"zz", "zz"},
        {"T", "T"},
        {"Z", "Z"},
        {"[yyyy/MM/dd]", "[2021/03/07]"},
        {"dd.MM. GMT UTC", "07.03. GMT UTC"},  // not read as month or minutes
        {"yyyyy", "2021y"},
        {"MMMMM", "March3"},
        {"ddddd", "Sunday7"},
        {"iso8601", "2021-03-07T08:05:09Z"},
        {"ISO8601", "2021-03-07T08:05:09Z"},
        {"Iso-8601", "2021-03-07T08:05:09Z"},
        {"iso 8601", "i9o 8601"},  // not a named format: 's' is seconds
        {"rfc1123", "Sun, 07 Mar 2021 08:05:09 GMT"},
        {"RFC-1123", "Sun, 07 Mar 2021 08:05:09 GMT"},
        {"rfc1123 ", "rfc1123 "},
        {"", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(pattern(kSample, row.pattern), row.text) << row.pattern;
    // The named formats never shift the time, whatever zone is given.
    EXPECT_EQ(pattern(kSample, "iso8601", &timeZones[16]), "2021-03-07T08:05:09Z");
}

TEST(TimeTextPattern, TwelveHourClock) {
    const struct {
        unsigned hour, minute;
        const char* text;
    } rows[] = {
        {0, 30, "12:30 AM"}, {11, 59, "11:59 AM"}, {12, 0, "12:00 PM"},
        {13, 0, "01:00 PM"}, {23, 59, "11:59 PM"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(pattern(fileTime(2021, 1, 1, row.hour, row.minute), "hh:mm tt"), row.text);
    EXPECT_EQ(pattern(fileTime(2021, 1, 1, 0, 30), "h"), "12");
}

TEST(TimeTextPattern, FractionIsCutWhileDurationRounds) {
    EXPECT_EQ(pattern(fileTime(2021, 1, 1, 0, 0, 0, 9996000), "s.xxx"), "0.999");
    EXPECT_EQ(duration(9996000, kCopyDurationFlags), "1.000");
}

TEST(TimeTextPattern, ZoneOffsets) {
    // Hours are cut toward zero; the sign is the whole offset's.
    const struct {
        int32_t offset;
        const char* z;
        const char* zz;
        const char* zzzz;
    } rows[] = {
        {0, "", "+00", "+0000"},       {60, "+1", "+01", "+0100"},   {-210, "-3", "-03", "-0330"},
        {330, "+5", "+05", "+0530"},   {345, "+5", "+05", "+0545"},  {-30, "-0", "-00", "-0030"},
        {-600, "-10", "-10", "-1000"}, {840, "+14", "+14", "+1400"},
    };
    for (const auto& row : rows) {
        const TimeZoneEntry zone = {"XYZ", "Test zone", row.offset, 0};
        EXPECT_EQ(pattern(kSample, "+z", &zone), row.z) << row.offset;
        EXPECT_EQ(pattern(kSample, "+zz", &zone), row.zz) << row.offset;
        EXPECT_EQ(pattern(kSample, "+zzzz", &zone), row.zzzz) << row.offset;
    }
    // Without a zone the default (UTC) is named.
    EXPECT_EQ(pattern(kSample, "zzz zzzz +zz"), "UTC Coordinated Universal Time +00");
}

TEST(TimeTextPattern, EpochEdges) {
    EXPECT_EQ(pattern(0, "unix mjd dddd"), "0 -94187 Monday");
    EXPECT_EQ(pattern(fileTime(1969, 12, 31, 23, 59, 59), "unix"), "0");
    EXPECT_EQ(pattern(fileTime(1970, 1, 1, 0, 0, 0, 5000000), "unix"), "1");
    EXPECT_EQ(pattern(fileTime(1858, 11, 17), "mjd"), "0");
    EXPECT_EQ(pattern(fileTime(1858, 11, 16), "mjd"), "-1");
    // Unix seconds wrap after 2106-02-07 06:28:15, as in the device's 32-bit field.
    EXPECT_EQ(pattern(fileTime(2106, 2, 7, 6, 28, 15), "unix"), "4294967295");
    EXPECT_EQ(pattern(fileTime(2106, 2, 7, 6, 28, 16), "unix"), "0");
}

TEST(TimeTextPattern, FarFuture) {
    const uint64_t limitDay = (1ull << 20) * kDay;  // 4471-11-27, where a 20-bit day split ends
    EXPECT_EQ(pattern(limitDay, "yyyy-MM-dd HH:mm dddd"), "4471-11-27 00:00 Friday");
    EXPECT_EQ(pattern(limitDay - 1, "yyyy-MM-dd HH:mm:ss.xxxxxxx"), "4471-11-26 23:59:59.9999999");
    EXPECT_EQ(pattern(UINT64_MAX, "yyyy-MM-dd HH:mm:ss.xxxxxxx dddd kw"),
              "60056-05-28 05:36:10.9551615 Sunday 21");
    char out[17];
    EXPECT_EQ(formatFileTime(&limitDay, out, sizeof out, kListTimeFlags), 16);
    EXPECT_STREQ(out, "4471-11-27 00:00");
    // Every token at the end of the range, shifted by the furthest zones.
    const char* all =
        "yyyy yy MMMM MMM MM M dddd ddd dd d kw unix mjd HH H hh h mm m ss s tt "
        "xxxxxxx x zzzz zzz +zzzz +zz +z UTC GMT";
    for (const TimeZoneEntry& zone : std::span(timeZones, kTimeZoneCount)) {
        uint64_t time = UINT64_MAX;
        shiftTimeZone(&time, defaultTimeZone(), &zone);
        EXPECT_FALSE(pattern(time, all, &zone).empty());
    }
    // FILETIMEs beyond year 9999 still give an ISO week.
    EXPECT_EQ(isoWeekNumber(fileTime(32000, 1, 4)), 1u);
}

TEST(TimeTextPattern, OutputLimitCutsBetweenPieces) {
    const struct {
        const char* pattern;
        size_t limit;
        const char* text;
    } rows[] = {
        {"yyyy-MM-dd", 11, "2021-03-07"},
        {"yyyy-MM-dd", 10, "2021-03-"},
        {"yyyy-MM-dd", 7, "2021-"},  // "03" does not fit: nothing after it either
        {"yyyy-MM-dd", 5, "2021"},
        {"yyyy-MM-dd", 4, ""},
        {"yyyy-MM-dd", 1, ""},
        {"MMMM yyyy", 5, ""},  // a locale text is not cut
        {"MMMM yyyy", 11, "March 2021"},
        {"zzzz", 20, ""},
    };
    for (const auto& row : rows) {
        char out[32];
        memset(out, '#', sizeof out);
        uint64_t time = kSample;
        int count =
            formatTimePattern(&time, kLocaleEnglishUs, nullptr, row.pattern, out, row.limit);
        EXPECT_STREQ(out, row.text) << row.pattern << " " << row.limit;
        EXPECT_EQ(static_cast<size_t>(count), strlen(row.text));
        for (size_t at = row.limit; at < sizeof out; at++)
            ASSERT_EQ(out[at], '#') << row.pattern << " " << row.limit;
    }
    char untouched = '#';
    uint64_t time = kSample;
    EXPECT_EQ(formatTimePattern(&time, kLocaleEnglishUs, nullptr, "yyyy", &untouched, 0), 0);
    EXPECT_EQ(untouched, '#');
    // The listing's column needs 17 bytes; one less cuts before the minutes.
    char out[16];
    EXPECT_EQ(formatFileTime(&time, out, sizeof out, kListTimeFlags), 14);
    EXPECT_STREQ(out, "2021-03-07 08:");
}

TEST(TimeTextDuration, ListingFlags) {
    const struct {
        uint64_t value;
        const char* text;
    } rows[] = {
        {0, "0.000"},
        {2504000, "0.250"},
        {9996000, "1.000"},
        {599996000, "1:00.000"},
        {654321000, "1:05.432"},
        {37255000000, "1:02:05.500"},
        {864010000000, "1 day, 0:00:01.000"},
        {2739067890000, "3 days, 4:05:06.789"},
        {kDay, "1 day, 0:00:00.000"},
        {2 * kDay, "2 days, 0:00:00.000"},
        {kDay - 5000, "1 day, 0:00:00.000"},  // rounds up into the next day
        {kDay - 5001, "23:59:59.999"},
        {4999, "0.000"},
        {5000, "0.001"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(duration(row.value, kCopyDurationFlags), row.text) << row.value;
}

TEST(TimeTextDuration, OtherFlags) {
    const struct {
        uint64_t value;
        uint32_t flags;
        const char* text;
    } rows[] = {
        {52500000, 0x10 | 3, "0:05.250"},
        {50000000, 0x20, "0:00:05"},
        {50000000, 0x40, "0 days, 0:00:05"},
        {50000000, 0x40 | 0x8, "0 days, 0:00:05"},
        {0, 0, "0"},  // no integral part asked for: "0" all the same
        {2500000, 3, "0.250"},
        {12345678, 7, "1.2345678"},  // seven digits: nothing to round
        {12345678, 1, "1.2"},
        {12345678, 2, "1.23"},
        {9600000, 1, "1.0"},
        {5000000, 0, "1"},  // half a second rounds up
        {4999999, 0x8, "0"},
        {595000000, 0x8, "1:00"},
        {37255000000, 0, "1:02:06"},
        {3 * kHour, 0x10, "3:00:00"},  // larger fields win over the minutes form
    };
    for (const auto& row : rows)
        EXPECT_EQ(duration(row.value, row.flags), row.text) << row.value << " " << row.flags;
}

TEST(TimeTextDuration, LongestFits) {
    // The whole 64-bit range: the rounding addend saturates instead of wrapping.
    EXPECT_EQ(duration(UINT64_MAX, 7), "21350398 days, 5:36:10.9551615");
    EXPECT_EQ(duration(UINT64_MAX, 0x47), "21350398 days, 5:36:10.9551615");
    EXPECT_EQ(duration(UINT64_MAX, kCopyDurationFlags), "21350398 days, 5:36:10.955");
    EXPECT_EQ(duration((1ull << 20) * kDay - 1, 7), "1048575 days, 23:59:59.9999999");
}

TEST(TimeTextZones, Table) {
    ASSERT_STREQ(defaultTimeZone()->abbreviation, "UTC");
    EXPECT_EQ(defaultTimeZone(), &timeZones[0]);
    EXPECT_STREQ(timeZones[17].abbreviation, "MESZ");
    EXPECT_EQ(timeZones[17].offsetMinutes, 120);
    EXPECT_EQ(timeZones[9].zoneKind, 0);  // Arizona keeps no daylight time
}

TEST(TimeTextZones, Shift) {
    const TimeZoneEntry* utc = &timeZones[0];
    const TimeZoneEntry* pst = &timeZones[12];
    const TimeZoneEntry* cest = &timeZones[16];
    uint64_t time = kSample;
    EXPECT_FALSE(shiftTimeZone(nullptr, utc, pst));
    EXPECT_FALSE(shiftTimeZone(&time, nullptr, pst));
    EXPECT_FALSE(shiftTimeZone(&time, utc, nullptr));
    uint64_t zero = 0;
    EXPECT_FALSE(shiftTimeZone(&zero, utc, pst));
    EXPECT_EQ(zero, 0u);
    EXPECT_TRUE(shiftTimeZone(&time, utc, &timeZones[1]));
    EXPECT_EQ(time, kSample);
    EXPECT_TRUE(shiftTimeZone(&time, pst, cest));  // ten hours apart
    EXPECT_EQ(pattern(time, "HH:mm"), "18:05");
    EXPECT_TRUE(shiftTimeZone(&time, cest, pst));
    EXPECT_EQ(time, kSample);
    // Past either end of the range the time stops at that end.
    uint64_t early = 5 * kMinute;
    EXPECT_TRUE(shiftTimeZone(&early, utc, pst));
    EXPECT_EQ(early, 0u);
    uint64_t late = UINT64_MAX - kMinute;
    EXPECT_TRUE(shiftTimeZone(&late, utc, cest));
    EXPECT_EQ(late, UINT64_MAX);
}

TEST(TimeTextZones, LocalZoneIsARowOrTheFallback) {
    const TimeZoneEntry* zone = localTimeZone();
    ASSERT_NE(zone, nullptr);
    bool inTable = zone >= timeZones && zone < timeZones + 18;
    if (!inTable) {
        EXPECT_STREQ(zone->abbreviation, "???");
        EXPECT_STREQ(zone->fullName, "Unknown timezone");
    }
    int32_t bias = 0;
    int kind = osTimeZone(&bias);
    if (kind >= 0) {
        EXPECT_EQ(zone->offsetMinutes, -bias);
        EXPECT_EQ(zone->zoneKind, kind);
    }
}

// Sets TZ for the POSIX back end; restores it at the end of the test.
struct ZoneSetting {
    std::string saved;
    bool had = false;
    explicit ZoneSetting(const char* setting) {
        if (const char* old = getenv("TZ")) {
            saved = old;
            had = true;
        }
        static char text[64];
        snprintf(text, sizeof text, "TZ=%s", setting);
        putenv(text);
    }
    ~ZoneSetting() {
        static char text[256];
        snprintf(text, sizeof text, "TZ=%s", had ? saved.c_str() : "UTC0");
        putenv(text);
    }
};

TEST(TimeTextZones, PosixZonesFromTz) {
    if (strcmp(osLineEnd(), "\n") != 0)
        GTEST_SKIP() << "the Windows zone comes from GetTimeZoneInformation, not TZ";
    {
        ZoneSetting setting("UTC0");
        EXPECT_EQ(localTimeZone(), &timeZones[0]);
    }
    {
        ZoneSetting setting("MST7");  // no daylight time: the Arizona row
        EXPECT_EQ(localTimeZone(), &timeZones[9]);
    }
    {
        // Eastern time: standard or daylight depending on today's date.
        ZoneSetting setting("EST5EDT,M3.2.0,M11.1.0");
        const TimeZoneEntry* zone = localTimeZone();
        EXPECT_TRUE(zone == &timeZones[5] || zone == &timeZones[6]) << zone->abbreviation;
    }
    {
        ZoneSetting setting("IST-5:30");
        const TimeZoneEntry* zone = localTimeZone();
        EXPECT_STREQ(zone->abbreviation, "???");
        EXPECT_EQ(zone->offsetMinutes, 330);
        EXPECT_EQ(zone->zoneKind, 0);
        EXPECT_EQ(fileText(kSample, 0x2000 | 0x2B3),
                  "2021-03-07 13:35 ???"
                  "(+5)");
        EXPECT_EQ(fileText(kSample, 0x2000 | 0x20000 | 0x200 | 0x80 | 0x2 | 0x40),
                  "2021-03-07 1:35:09 PM ???");
    }
}

TEST(TimeTextPattern, DropWeekday) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"dddd, MMMM d, yyyy", "MMMM d, yyyy"},
        {"ddd, dd MMM yyyy", "dd MMM yyyy"},
        {"d. MMMM yyyy, dddd", "d. MMMM yyyy, "},
        {"dddd dddd\t,x", "x"},
        {"dddddd", "dd"},
        {"dd/MM/yyyy", "dd/MM/yyyy"},
        {"", ""},
    };
    for (const auto& row : rows) {
        char text[64];
        strcpy(text, row.in);
        dropWeekday(text);
        EXPECT_STREQ(text, row.out) << row.in;
    }
}

TEST(TimeTextLocale, EnglishTexts) {
    // Locale 0x409 gives the same texts natively and under Windows.
    const struct {
        uint32_t lcType;
        const char* text;
    } rows[] = {
        {0x38, "January"},
        {0x43, "December"},
        {0x44, "Jan"},
        {0x4F, "Dec"},
        {0x2A, "Monday"},
        {0x30, "Sunday"},
        {0x31, "Mon"},
        {0x37, "Sun"},
        {0x28, "AM"},
        {0x29, "PM"},
        {0x1003, "h:mm:ss tt"},
        {0x1F, "M/d/yyyy"},
        {0x20, "dddd, MMMM d, yyyy"},
    };
    for (const auto& row : rows) {
        char out[64];
        EXPECT_EQ(osLocaleInfo(kLocaleEnglishUs, row.lcType, out, sizeof out),
                  static_cast<int>(strlen(row.text) + 1))
            << row.lcType;
        EXPECT_STREQ(out, row.text);
    }
    char small[7];
    EXPECT_EQ(osLocaleInfo(kLocaleEnglishUs, 0x38, small, sizeof small), 0);
    EXPECT_EQ(osLocaleInfo(kLocaleEnglishUs, 0x38, small, 0), 0);
}

}  // namespace
