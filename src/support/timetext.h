// Date, time and duration text: FILETIMEs under token patterns or flag words,
// durations with fraction digits, the calendar, ISO weeks and time zones.
#pragma once

#include <cstddef>
#include <cstdint>

struct TimeFields {
    uint16_t year;
    uint8_t month;       // 1..12
    uint8_t day;         // 1..31
    uint8_t weekday;     // 0 Monday .. 6 Sunday
    uint8_t leapYear;
    uint32_t dayNumber;  // days since 1601-01-01
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint32_t fraction;   // 100 ns units below one second
};

struct TimeZoneEntry {
    const char* abbreviation;
    const char* fullName;
    int32_t offsetMinutes;   // east of Greenwich
    int32_t zoneKind;        // 0 none, 1 standard, 2 daylight
};

constexpr uint32_t kListTimeFlags = 0x82B0;   // yyyy-MM-dd HH:mm, UTC, no zone
constexpr uint32_t kCopyDurationFlags = 11;   // three fraction digits, seconds shown
constexpr size_t kDurationChars = 32;
constexpr uint32_t kLocaleUserDefault = 0x400;
constexpr uint32_t kLocaleEnglishUs = 0x409;

// Both work over the whole 64-bit range (to 60056-05-28), not only below 2^20 days.
void splitTime(uint64_t value, TimeFields* fields);
void fileTimeToFields(uint64_t time, TimeFields* fields);
bool isLeapYear(uint32_t year);
uint32_t isoWeekNumber(uint64_t time);
uint32_t yearOfDay(uint32_t day);
uint32_t firstDayOfYear(uint32_t year);
// `time` null means now; `zone` null means defaultTimeZone(). `limit` (with the
// terminator) bounds every piece: a token's text or literal character that does not
// fit whole ends the text. Returns the characters written.
int formatTimePattern(const uint64_t* time, uint32_t locale, const TimeZoneEntry* zone,
                      const char* pattern, char* out, size_t limit);
int formatFileTime(const uint64_t* time, char* out, size_t limit, uint32_t flags);
// `out` holds kDurationChars. Without days, hours or minutes to show and none of
// 0x8..0x40, the seconds are still written ("0", "0.250"), never a bare fraction.
void formatDuration(uint64_t duration, char* out, uint32_t flags);
const TimeZoneEntry* defaultTimeZone();
const TimeZoneEntry* localTimeZone();
// A shift past either end of the FILETIME range stops at that end.
bool shiftTimeZone(uint64_t* time, const TimeZoneEntry* from, const TimeZoneEntry* to);
void dropWeekday(char* pattern);

extern const TimeZoneEntry timeZones[18];
