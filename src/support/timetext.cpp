// Date, time and duration text: exact integer arithmetic on 100 ns units over the
// proleptic Gregorian calendar counted from 1601-01-01, the epoch of FILETIME.
//
// Sections: units and the calendar; time zones; the token table; pattern text;
// flag-word text; duration text.
#include "support/timetext.h"

#include <charconv>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "support/encodings.h"

// ---------------------------------------------------------------------------
// Units and the calendar
// ---------------------------------------------------------------------------

constexpr uint64_t kUnitsPerSecond = 10000000ull;
constexpr uint64_t kUnitsPerMinute = 60 * kUnitsPerSecond;
constexpr uint64_t kUnitsPerHour = 60 * kUnitsPerMinute;
constexpr uint64_t kUnitsPerDay = 24 * kUnitsPerHour;

constexpr uint32_t kDaysPer400Years = 146097;
constexpr uint32_t kDaysPer100Years = 36524;  // the first three centuries of a cycle
constexpr uint32_t kDaysPer4Years = 1461;
constexpr uint32_t kDaysPerYear = 365;
constexpr uint32_t kDaysBefore1601 = 584388;  // 0001-01-01 .. 1601-01-01
constexpr uint32_t kMjdEpochDay = 94187;      // 1858-11-17 counted from 1601-01-01

// Days per month: common year, then leap year.
constexpr uint8_t kMonthDays[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

void splitTime(uint64_t value, TimeFields* fields) {
    // Every 64-bit value has fewer than 2^32 days (at most 21350398), so the
    // day count always fits: the calendar is valid for the whole FILETIME range.
    fields->dayNumber = static_cast<uint32_t>(value / kUnitsPerDay);
    uint64_t rest = value % kUnitsPerDay;
    fields->hour = static_cast<uint8_t>(rest / kUnitsPerHour);
    rest %= kUnitsPerHour;
    fields->minute = static_cast<uint8_t>(rest / kUnitsPerMinute);
    rest %= kUnitsPerMinute;
    fields->second = static_cast<uint8_t>(rest / kUnitsPerSecond);
    fields->fraction = static_cast<uint32_t>(rest % kUnitsPerSecond);
}

bool isLeapYear(uint32_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Splits a day count from the first day of a 400-year cycle (0001-01-01 or
// 1601-01-01) into whole years passed and the 0-based day of the year.
static void splitCycleDays(uint32_t days, uint32_t* years, uint32_t* dayOfYear) {
    uint32_t cycles = days / kDaysPer400Years;
    uint32_t rest = days % kDaysPer400Years;
    uint32_t centuries = rest / kDaysPer100Years;
    if (centuries > 3)  // the last day of the cycle: the fourth century is one day longer
        centuries = 3;
    rest -= centuries * kDaysPer100Years;
    uint32_t quads = rest / kDaysPer4Years;
    rest %= kDaysPer4Years;
    uint32_t single = rest / kDaysPerYear;
    if (single > 3)  // December 31 of the leap year closing a four-year run
        single = 3;
    rest -= single * kDaysPerYear;
    *years = cycles * 400 + centuries * 100 + quads * 4 + single;
    *dayOfYear = rest;
}

uint32_t yearOfDay(uint32_t day) {
    uint32_t years, dayOfYear;
    splitCycleDays(day, &years, &dayOfYear);
    return years + 1;
}

uint32_t firstDayOfYear(uint32_t year) {
    if (year == 0)  // before day 0 of this count; no such day
        return 0;
    uint64_t before = year - 1;
    return static_cast<uint32_t>(before * kDaysPerYear + before / 4 - before / 100 + before / 400);
}

void fileTimeToFields(uint64_t time, TimeFields* fields) {
    splitTime(time, fields);
    uint32_t years, dayOfYear;
    splitCycleDays(fields->dayNumber, &years, &dayOfYear);
    // At most 58455 years pass in the FILETIME range, so the year fits 16 bits.
    fields->year = static_cast<uint16_t>(1601 + years);
    fields->leapYear = isLeapYear(fields->year) ? 1 : 0;
    const uint8_t* lengths = kMonthDays[fields->leapYear];
    uint32_t month = 0;
    while (month < 11 && dayOfYear >= lengths[month]) dayOfYear -= lengths[month++];
    fields->month = static_cast<uint8_t>(month + 1);
    fields->day = static_cast<uint8_t>(dayOfYear + 1);
    fields->weekday = static_cast<uint8_t>(fields->dayNumber % 7);  // 1601-01-01 was a Monday
}

// The Monday of ISO week 1 of a year, counted from 0001-01-01 (a Monday): the
// Monday of the week that holds January 4.
static uint32_t isoWeekOneMonday(uint32_t year) {
    uint32_t j = firstDayOfYear(year);
    return j + 3 - (j + 3) % 7;
}

uint32_t isoWeekNumber(uint64_t time) {
    TimeFields fields;
    splitTime(time, &fields);
    uint32_t d = fields.dayNumber + kDaysBefore1601;
    uint32_t y = yearOfDay(d);
    uint32_t start = isoWeekOneMonday(y);
    if (d < start) {
        start = isoWeekOneMonday(y - 1);
    } else {
        uint32_t next = isoWeekOneMonday(y + 1);
        if (d >= next) start = next;
    }
    return (d - start) / 7 + 1;
}

// ---------------------------------------------------------------------------
// Time zones
// ---------------------------------------------------------------------------

const TimeZoneEntry timeZones[] = {
    {"UTC", "Coordinated Universal Time", 0, 0},       // UTC, the default zone
    {"GMT", "Greenwich Mean Time", 0, 0},              // GMT
    {"BST", "British Summer Time", 60, 2},             // BST
    {"AST", "Atlantic Standard Time", -240, 1},        // AST
    {"ADT", "Atlantic Daylight Time", -180, 2},        // ADT
    {"EST", "Eastern Standard Time", -300, 1},         // EST
    {"EDT", "Eastern Daylight Time", -240, 2},         // EDT
    {"CST", "Central Standard Time", -360, 1},         // CST
    {"CDT", "Central Daylight Time", -300, 2},         // CDT
    {"AZT", "Arizona Time", -420, 0},                  // AZT
    {"MST", "Mountain Standard Time", -420, 1},        // MST
    {"MDT", "Mountain Daylight Time", -360, 2},        // MDT
    {"PST", "Pacific Standard Time", -480, 1},         // PST
    {"PDT", "Pacific Daylight Time", -420, 2},         // PDT
    {"CET", "Central European Time", 60, 1},           // CET
    {"MEZ", "Mittel Europa Zeit", 60, 1},              // MEZ
    {"CEST", "Central European Summer Time", 120, 2},  // CEST
    {"MESZ", "Mittel Europa Sommer Zeit", 120, 2},     // MESZ
};
static_assert(std::size(timeZones) == kTimeZoneCount, "one row per zone");

// The computer's zone when no row matches it; each localTimeZone call rewrites it.
static TimeZoneEntry fallbackZone = {"???", "Unknown timezone", 0, 0};

const TimeZoneEntry* defaultTimeZone() {
    return &timeZones[0];
}

const TimeZoneEntry* localTimeZone() {
    int32_t bias = 0;
    int kind = osTimeZone(&bias);
    if (kind < 0) {
        // The zone cannot be read: name it unknown and keep the UTC clock.
        kind = 0;
        bias = 0;
    }
    for (const TimeZoneEntry& row : timeZones)
        if (row.offsetMinutes == -bias && row.zoneKind == kind) return &row;
    fallbackZone.offsetMinutes = -bias;
    fallbackZone.zoneKind = kind;
    return &fallbackZone;
}

bool shiftTimeZone(uint64_t* time, const TimeZoneEntry* from, const TimeZoneEntry* to) {
    if (!time || !from || !to || *time == 0) return false;
    if (from->offsetMinutes == to->offsetMinutes) return true;
    int64_t minutes = static_cast<int64_t>(to->offsetMinutes) - from->offsetMinutes;
    // A shift past either end of the FILETIME range stops at that end.
    uint64_t amount = static_cast<uint64_t>(minutes < 0 ? -minutes : minutes) * kUnitsPerMinute;
    if (minutes > 0)
        *time = *time > UINT64_MAX - amount ? UINT64_MAX : *time + amount;
    else
        *time = *time < amount ? 0 : *time - amount;
    return true;
}

// ---------------------------------------------------------------------------
// The token table of the pattern language
// ---------------------------------------------------------------------------

// Where a token reads its value.
enum TokenSource : uint8_t {
    SourceYear,
    SourceMonth,
    SourceDay,
    SourceWeekday,
    SourceDayNumber,
    SourceHour,
    SourceMinute,
    SourceSecond,
    SourceFraction,
    SourceFileTime,
    SourceZone,
    SourceNone,
};

// Transformation of the value before it is written.
enum TokenKind : uint8_t {
    KindValue = 1,       // v unchanged
    KindMonthIndex = 2,  // v - 1
    KindHour12 = 3,      // 1..12
    KindNoon = 4,        // 0 before noon, 1 from noon
    KindYear2 = 5,       // v mod 100
    KindFraction = 6,    // first `width` digits of the second, cut off
    KindZoneOffset = 7,  // "+h", "+hh" or "+hhmm"
    KindZoneName = 8,    // abbreviation (width 3) or full name (width 0)
    KindIsoWeek = 9,     // ISO 8601 week number
    KindUnix = 10,       // Unix seconds, rounded to the nearest
    KindMjd = 11,        // Modified Julian Day
    KindLiteral = 12,    // the token's own characters
};

struct TimeToken {
    const char* text;
    uint8_t width;  // digits of a number (0: as many as needed)
    TokenKind kind;
    TokenSource source;
    uint32_t localeBase;  // LCTYPE of the first locale text, 0 for a number
};

constexpr uint32_t kLocaleSMonthName1 = 0x38;
constexpr uint32_t kLocaleSAbbrevMonthName1 = 0x44;
constexpr uint32_t kLocaleSDayName1 = 0x2A;        // Monday
constexpr uint32_t kLocaleSAbbrevDayName1 = 0x31;  // Monday
constexpr uint32_t kLocaleS1159 = 0x28;            // the morning designator; 0x29 afternoon
constexpr uint32_t kLocaleSShortDate = 0x1F;
constexpr uint32_t kLocaleSLongDate = 0x20;
constexpr uint32_t kLocaleSTimeFormat = 0x1003;

// Searched in order at each pattern position, so longer tokens of a letter win.
static const TimeToken timeTokens[] = {
    {"yyyy", 0, KindValue, SourceYear, 0},                              // 0
    {"yy", 2, KindYear2, SourceYear, 0},                                // 1
    {"MMMM", 0, KindMonthIndex, SourceMonth, kLocaleSMonthName1},       // 2
    {"MMM", 0, KindMonthIndex, SourceMonth, kLocaleSAbbrevMonthName1},  // 3
    {"MM", 2, KindValue, SourceMonth, 0},                               // 4
    {"M", 0, KindValue, SourceMonth, 0},                                // 5
    {"dddd", 0, KindValue, SourceWeekday, kLocaleSDayName1},            // 6
    {"ddd", 0, KindValue, SourceWeekday, kLocaleSAbbrevDayName1},       // 7
    {"dd", 2, KindValue, SourceDay, 0},                                 // 8
    {"d", 0, KindValue, SourceDay, 0},                                  // 9
    {"kw", 0, KindIsoWeek, SourceFileTime, 0},                          // 10
    {"unix", 0, KindUnix, SourceFileTime, 0},                           // 11
    {"mjd", 0, KindMjd, SourceDayNumber, 0},                            // 12
    {"HH", 2, KindValue, SourceHour, 0},                                // 13
    {"H", 0, KindValue, SourceHour, 0},                                 // 14
    {"hh", 2, KindHour12, SourceHour, 0},                               // 15
    {"h", 0, KindHour12, SourceHour, 0},                                // 16
    {"mm", 2, KindValue, SourceMinute, 0},                              // 17
    {"m", 0, KindValue, SourceMinute, 0},                               // 18
    {"ss", 2, KindValue, SourceSecond, 0},                              // 19
    {"s", 0, KindValue, SourceSecond, 0},                               // 20
    {"tt", 0, KindNoon, SourceHour, kLocaleS1159},                      // 21
    {"xxxxxxx", 7, KindFraction, SourceFraction, 0},                    // 22
    {"xxxxxx", 6, KindFraction, SourceFraction, 0},                     // 23
    {"xxxxx", 5, KindFraction, SourceFraction, 0},                      // 24
    {"xxxx", 4, KindFraction, SourceFraction, 0},                       // 25
    {"xxx", 3, KindFraction, SourceFraction, 0},                        // 26
    {"xx", 2, KindFraction, SourceFraction, 0},                         // 27
    {"x", 1, KindFraction, SourceFraction, 0},                          // 28
    {"zzzz", 0, KindZoneName, SourceZone, 0},                           // 29
    {"zzz", 3, KindZoneName, SourceZone, 0},                            // 30
    {"+zzzz", 4, KindZoneOffset, SourceZone, 0},                        // 31
    {"+zz", 2, KindZoneOffset, SourceZone, 0},                          // 32
    {"+z", 0, KindZoneOffset, SourceZone, 0},                           // 33
    {"UTC", 0, KindLiteral, SourceNone, 0},                             // 34
    {"GMT", 0, KindLiteral, SourceNone, 0},                             // 35
};
static_assert(sizeof(timeTokens) / sizeof(timeTokens[0]) == 36, "one row per token");

// ---------------------------------------------------------------------------
// Pattern text
// ---------------------------------------------------------------------------

constexpr size_t kLocaleTextSize = 128;  // one locale text with its terminator
constexpr size_t kNumberTextSize = 24;   // a 64-bit number with sign
constexpr size_t kPatternSize = 256;     // pattern built from a flag word, with terminator

// Output under a capacity: every piece is written whole or not at all, and the
// first piece that does not fit ends the text, so a short buffer yields a
// prefix cut between pieces rather than a cut number or name.
struct TextOut {
    char* out;
    size_t limit;  // capacity including the terminator
    size_t count;  // characters written
    bool full;     // a piece did not fit; nothing more is written
};

static void putText(TextOut* text, const char* piece, size_t length) {
    if (text->full) return;
    if (text->limit == 0 || length > text->limit - 1 - text->count) {
        text->full = true;
        return;
    }
    memcpy(text->out + text->count, piece, length);
    text->count += length;
}

static void putString(TextOut* text, const char* piece) {
    putText(text, piece, strlen(piece));
}

// A decimal number, zero-filled to `width` digits, with a '-' when negative.
static void putNumber(TextOut* text, int64_t value, unsigned width) {
    char digits[kNumberTextSize];
    bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    size_t length = static_cast<size_t>(end - digits);
    char padded[kNumberTextSize * 2];  // widths are at most 7
    size_t at = 0;
    if (negative) padded[at++] = '-';
    for (size_t n = length; n < width && at < kNumberTextSize; n++) padded[at++] = '0';
    memcpy(padded + at, digits, length);
    putText(text, padded, at + length);
}

// The offset as a sign and hours (width 0 and 2) or hours and minutes (width 4).
// The sign comes from the whole offset, so half an hour west is "-0030", not "+0030".
static void putZoneOffset(TextOut* text, const TimeZoneEntry* zone, unsigned width) {
    int64_t offset = zone->offsetMinutes;
    if (width == 0 && offset == 0) return;
    uint64_t magnitude = static_cast<uint64_t>(offset < 0 ? -offset : offset);
    char piece[kNumberTextSize];
    piece[0] = offset < 0 ? '-' : '+';
    TextOut part = {piece + 1, sizeof piece - 1, 0, false};
    putNumber(&part, static_cast<int64_t>(magnitude / 60), width == 0 ? 0 : 2);
    if (width == 4) putNumber(&part, static_cast<int64_t>(magnitude % 60), 2);
    putText(text, piece, part.count + 1);
}

static bool equalsIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; a++, b++) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

static const TimeToken* tokenAt(const char* position) {
    for (const TimeToken& row : timeTokens)
        if (row.text[0] == *position && strncmp(position, row.text, strlen(row.text)) == 0)
            return &row;
    return nullptr;
}

static int64_t tokenValue(const TimeToken* token, const TimeFields* fields) {
    switch (token->source) {
    case SourceYear:
        return fields->year;
    case SourceMonth:
        return fields->month;
    case SourceDay:
        return fields->day;
    case SourceWeekday:
        return fields->weekday;
    case SourceDayNumber:
        return fields->dayNumber;
    case SourceHour:
        return fields->hour;
    case SourceMinute:
        return fields->minute;
    case SourceSecond:
        return fields->second;
    case SourceFraction:
        return fields->fraction;
    case SourceFileTime:
    case SourceZone:
    case SourceNone:
        break;
    }
    return 0;
}

static void putToken(TextOut* text, const TimeToken* token, const TimeFields* fields, uint64_t time,
                     uint32_t locale, const TimeZoneEntry* zone) {
    int64_t v = tokenValue(token, fields);
    switch (token->kind) {
    case KindValue:
        break;
    case KindMonthIndex:
        v -= 1;
        break;
    case KindHour12:
        v = (v + 11) % 12 + 1;
        break;
    case KindNoon:
        v = (v % 24) / 12;
        break;
    case KindYear2:
        v %= 100;
        break;
    case KindFraction: {
        int64_t divisor = 1;
        for (unsigned n = token->width; n < 7; n++) divisor *= 10;
        v /= divisor;
        break;
    }
    case KindZoneOffset:
        putZoneOffset(text, zone, token->width);
        return;
    case KindZoneName:
        putString(text, token->width == 3 ? zone->abbreviation : zone->fullName);
        return;
    case KindIsoWeek:
        v = isoWeekNumber(time);
        break;
    case KindUnix: {
        uint32_t seconds = 0;
        fileTimeToUnix(time, &seconds, 1);  // 0 before 1970
        v = seconds;
        break;
    }
    case KindMjd:
        // Days before 1858-11-17 give a negative day number, as MJD defines it.
        v -= kMjdEpochDay;
        break;
    case KindLiteral:
        putString(text, token->text);
        return;
    }
    if (token->localeBase != 0) {
        char localeText[kLocaleTextSize];
        int written = osLocaleInfo(locale, token->localeBase + static_cast<uint32_t>(v), localeText,
                                   static_cast<int>(sizeof localeText));
        if (written > 0)  // an unknown text adds nothing
            putString(text, localeText);
        return;
    }
    putNumber(text, v, token->width);
}

int formatTimePattern(const uint64_t* time, uint32_t locale, const TimeZoneEntry* zone,
                      const char* pattern, char* out, size_t limit) {
    if (!pattern) pattern = "";
    if (equalsIgnoringCase(pattern, "iso8601") || equalsIgnoringCase(pattern, "iso-8601"))
        pattern = "yyyy-MM-ddTHH:mm:ssZ";
    else if (equalsIgnoringCase(pattern, "rfc1123") || equalsIgnoringCase(pattern, "rfc-1123"))
        pattern = "ddd, dd MMM yyyy HH:mm:ss GMT";
    uint64_t value = time ? *time : osSystemTimeAsFileTime();
    if (!zone) zone = defaultTimeZone();
    TimeFields fields;
    fileTimeToFields(value, &fields);

    TextOut text = {out, limit, 0, false};
    const char* at = pattern;
    while (*at && !text.full) {
        const TimeToken* token = tokenAt(at);
        if (!token) {
            putText(&text, at, 1);
            at++;
            continue;
        }
        putToken(&text, token, &fields, value, locale, zone);
        at += strlen(token->text);
    }
    if (limit > 0) out[text.count] = '\0';
    return static_cast<int>(text.count);
}

// ---------------------------------------------------------------------------
// Flag-word text
// ---------------------------------------------------------------------------

// Appends a locale pattern into what is left of the pattern buffer.
static void putLocalePattern(TextOut* pattern, uint32_t locale, uint32_t lcType, bool noWeekday) {
    char localeText[kPatternSize];
    if (osLocaleInfo(locale, lcType, localeText, static_cast<int>(sizeof localeText)) <= 0) return;
    if (noWeekday) dropWeekday(localeText);
    putString(pattern, localeText);
}

int formatFileTime(const uint64_t* time, char* out, size_t limit, uint32_t flags) {
    uint64_t value = time ? *time : osSystemTimeAsFileTime();
    const TimeZoneEntry* zone = defaultTimeZone();
    if (flags & kZoneLocal) {
        zone = localTimeZone();
        shiftTimeZone(&value, defaultTimeZone(), zone);
    }
    uint32_t locale = (flags & kTimeEnglishUs) ? kLocaleEnglishUs : kLocaleUserDefault;

    char patternText[kPatternSize];
    TextOut pattern = {patternText, sizeof patternText, 0, false};
    switch (flags & kDateMask) {
    case kDateIso:
        putString(&pattern, "yyyy-MM-dd");
        break;
    case kDateShort:
        putLocalePattern(&pattern, locale, kLocaleSShortDate, false);
        break;
    case kDateLongNoWeekday:
        putLocalePattern(&pattern, locale, kLocaleSLongDate, true);
        break;
    case kDateLong:
        putLocalePattern(&pattern, locale, kLocaleSLongDate, false);
        break;
    default:
        break;
    }
    const char* separator = "";
    if ((flags & kTimeGapMask) == kTimeGapSpace)
        separator = " ";
    else if ((flags & kTimeGapMask) == kTimeGapTwoSpaces)
        separator = "  ";
    putString(&pattern, separator);
    if (flags & kTimeLocaleClock) {
        putLocalePattern(&pattern, locale, kLocaleSTimeFormat, false);
    } else {
        if (flags & kTimeHours) putString(&pattern, "HH");
        if (flags & kTimeMinutes) putString(&pattern, (flags & kTimeHours) ? ":mm" : "mm");
        if (flags & kTimeSeconds)
            putString(&pattern, (flags & (kTimeHours | kTimeMinutes)) ? ":ss" : "ss");
    }
    if (flags & kTimeMilliseconds) putString(&pattern, ".xxx");
    if (flags & kTimeZoneShown) {
        putString(&pattern, separator);
        switch (flags & kZoneMask) {
        case kZoneLocal:
            putString(&pattern, "zzz");
            break;
        case kZoneGmt:
            putString(&pattern, "GMT");
            break;
        case kZoneUtc:
            putString(&pattern, "UTC");
            break;
        default:
            break;
        }
        if (flags & kTimeZoneOffset) putString(&pattern, "(+z)");
    }
    patternText[pattern.count] = '\0';
    return formatTimePattern(&value, locale, zone, patternText, out, limit);
}

// ---------------------------------------------------------------------------
// Duration text
// ---------------------------------------------------------------------------

void formatDuration(uint64_t duration, char* out, uint32_t flags) {
    unsigned digits = flags & kDurationDigitsMask;
    if (digits < 7) {
        // Half a unit of the last digit shown, so the cut digits round.
        uint64_t half = 5;
        for (unsigned n = digits; n < 6; n++) half *= 10;
        duration = duration > UINT64_MAX - half ? UINT64_MAX : duration + half;
    }
    TimeFields fields;
    splitTime(duration, &fields);

    TextOut text = {out, kDurationChars, 0, false};
    bool clock = false;  // hours, minutes and seconds follow as h:mm:ss
    if (fields.dayNumber > 0 || (flags & kDurationDays)) {
        if (fields.dayNumber == 1) {
            putString(&text, "1 day, ");
        } else {
            putNumber(&text, fields.dayNumber, 0);
            putString(&text, " days, ");
        }
        clock = true;
    }
    if (clock || fields.hour > 0 || (flags & kDurationHours)) {
        putNumber(&text, fields.hour, 0);
        putString(&text, ":");
        putNumber(&text, fields.minute, 2);
        putString(&text, ":");
        putNumber(&text, fields.second, 2);
    } else if (fields.minute > 0 || (flags & kDurationMinutes)) {
        putNumber(&text, fields.minute, 0);
        putString(&text, ":");
        putNumber(&text, fields.second, 2);
    } else {
        // Below one second without kDurationSeconds the seconds are still written ("0"), so
        // the fraction never stands without its integral part.
        putNumber(&text, fields.second, 0);
    }
    if (digits > 0) {
        char fraction[8];
        uint32_t rest = fields.fraction;
        fraction[0] = '.';
        for (unsigned n = 1; n <= digits; n++) {
            fraction[n] = static_cast<char>('0' + rest / 1000000);
            rest = rest % 1000000 * 10;
        }
        putText(&text, fraction, digits + 1);
    }
    out[text.count] = '\0';
}

// ---------------------------------------------------------------------------
// Patterns
// ---------------------------------------------------------------------------

void dropWeekday(char* pattern) {
    while (char* found = strstr(pattern, "ddd")) {
        char* end = found + 3;
        if (*end == 'd') end++;
        while (*end == ' ' || *end == '\t' || *end == ',') end++;
        memmove(found, end, strlen(end) + 1);
    }
}
