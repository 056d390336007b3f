// Date, time and duration text: FILETIMEs under token patterns or flag words,
// durations with fraction digits, the calendar, ISO weeks and time zones.
// Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>

struct TimeFields {
    uint16_t year;
    uint8_t month;    // 1..12
    uint8_t day;      // 1..31
    uint8_t weekday;  // 0 Monday .. 6 Sunday
    uint8_t leapYear;
    uint32_t dayNumber;  // days since 1601-01-01
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint32_t fraction;  // 100 ns units below one second
};

struct TimeZoneEntry {
    const char* abbreviation;
    const char* fullName;
    int32_t offsetMinutes;  // east of Greenwich
    int32_t zoneKind;       // 0 none, 1 standard, 2 daylight
};

// Flag word of formatFileTime: the pieces of the time text and their spelling.
constexpr uint32_t kTimeZoneOffset = 0x1;    // "(+z)" behind the zone name
constexpr uint32_t kTimeZoneShown = 0x2;     // the zone behind the time
constexpr uint32_t kTimeMilliseconds = 0x4;  // ".xxx"
constexpr uint32_t kTimeSeconds = 0x8;
constexpr uint32_t kTimeMinutes = 0x10;
constexpr uint32_t kTimeHours = 0x20;
constexpr uint32_t kTimeLocaleClock = 0x40;     // the locale's time format instead
constexpr uint32_t kTimeGapMask = 0x180;        // between date, time and zone:
constexpr uint32_t kTimeGapSpace = 0x80;        //   one space
constexpr uint32_t kTimeGapTwoSpaces = 0x100;   //   two spaces
constexpr uint32_t kDateMask = 0x1E00;          // the date, one of:
constexpr uint32_t kDateIso = 0x200;            //   yyyy-MM-dd
constexpr uint32_t kDateShort = 0x400;          //   the locale's short date
constexpr uint32_t kDateLongNoWeekday = 0x800;  //   the locale's long date without weekday
constexpr uint32_t kDateLong = 0x1000;          //   the locale's long date
constexpr uint32_t kZoneMask = 0xE000;          // the zone, one of:
constexpr uint32_t kZoneLocal = 0x2000;         //   the computer's zone ("zzz"), time shifted to it
constexpr uint32_t kZoneGmt = 0x4000;           //   "GMT"
constexpr uint32_t kZoneUtc = 0x8000;           //   "UTC"
constexpr uint32_t kTimeEnglishUs = 0x20000;    // English (US) names instead of the user's

// Flag word of formatDuration: fraction digits in the low bits, then the units that
// are shown even when they are zero.
constexpr uint32_t kDurationDigitsMask = 0x7;
constexpr uint32_t kDurationSeconds = 0x8;
constexpr uint32_t kDurationMinutes = 0x10;
constexpr uint32_t kDurationHours = 0x20;
constexpr uint32_t kDurationDays = 0x40;

// yyyy-MM-dd HH:mm in UTC, no zone shown
constexpr uint32_t kListTimeFlags = kZoneUtc | kDateIso | kTimeGapSpace | kTimeHours | kTimeMinutes;
// three fraction digits, seconds always shown
constexpr uint32_t kCopyDurationFlags = kDurationSeconds | 3;
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
// kDurationSeconds..kDurationDays, the seconds are still written ("0", "0.250"), never a bare fraction.
void formatDuration(uint64_t duration, char* out, uint32_t flags);
const TimeZoneEntry* defaultTimeZone();
const TimeZoneEntry* localTimeZone();
// A shift past either end of the FILETIME range stops at that end.
bool shiftTimeZone(uint64_t* time, const TimeZoneEntry* from, const TimeZoneEntry* to);
void dropWeekday(char* pattern);

constexpr size_t kTimeZoneCount = 18;
extern const TimeZoneEntry timeZones[];  // kTimeZoneCount rows
