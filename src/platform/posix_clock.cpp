// POSIX clocks, locale texts and the time zone: the monotonic and real-time
// clocks, the English (United States) texts of the date library, localtime_r's zone.
#include <cstring>
#include <ctime>

#include "platform/platform.h"

constexpr uint64_t kNanosecondsPerSecond = 1000000000ull;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000ull;
constexpr int64_t kUnixEpochSeconds = 11644473600ll;  // 1601-01-01 .. 1970-01-01

void osSleep(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

uint64_t osPerfFrequency() {
    return kNanosecondsPerSecond;
}

uint64_t osPerfCounter() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond +
           static_cast<uint64_t>(now.tv_nsec);
}

uint64_t osSystemTimeAsFileTime() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    int64_t seconds = static_cast<int64_t>(now.tv_sec) + kUnixEpochSeconds;
    if (seconds < 0)  // a clock set before 1601
        return 0;
    return static_cast<uint64_t>(seconds) * kFileTimeUnitsPerSecond +
           static_cast<uint64_t>(now.tv_nsec) / 100;
}

// One locale text by its LCTYPE, as Windows gives it for locale 0x409.
struct LocaleText {
    uint32_t lcType;
    const char* text;
};

static const LocaleText localeTexts[] = {
    {0x1F, "M/d/yyyy"},            // LOCALE_SSHORTDATE
    {0x20, "dddd, MMMM d, yyyy"},  // LOCALE_SLONGDATE
    {0x28, "AM"},                  // LOCALE_S1159
    {0x29, "PM"},                  // LOCALE_S2359
    {0x2A, "Monday"},              // LOCALE_SDAYNAME1
    {0x2B, "Tuesday"},             // LOCALE_SDAYNAME2
    {0x2C, "Wednesday"},           // LOCALE_SDAYNAME3
    {0x2D, "Thursday"},            // LOCALE_SDAYNAME4
    {0x2E, "Friday"},              // LOCALE_SDAYNAME5
    {0x2F, "Saturday"},            // LOCALE_SDAYNAME6
    {0x30, "Sunday"},              // LOCALE_SDAYNAME7
    {0x31, "Mon"},                 // LOCALE_SABBREVDAYNAME1
    {0x32, "Tue"},                 // LOCALE_SABBREVDAYNAME2
    {0x33, "Wed"},                 // LOCALE_SABBREVDAYNAME3
    {0x34, "Thu"},                 // LOCALE_SABBREVDAYNAME4
    {0x35, "Fri"},                 // LOCALE_SABBREVDAYNAME5
    {0x36, "Sat"},                 // LOCALE_SABBREVDAYNAME6
    {0x37, "Sun"},                 // LOCALE_SABBREVDAYNAME7
    {0x38, "January"},             // LOCALE_SMONTHNAME1
    {0x39, "February"},            // LOCALE_SMONTHNAME2
    {0x3A, "March"},               // LOCALE_SMONTHNAME3
    {0x3B, "April"},               // LOCALE_SMONTHNAME4
    {0x3C, "May"},                 // LOCALE_SMONTHNAME5
    {0x3D, "June"},                // LOCALE_SMONTHNAME6
    {0x3E, "July"},                // LOCALE_SMONTHNAME7
    {0x3F, "August"},              // LOCALE_SMONTHNAME8
    {0x40, "September"},           // LOCALE_SMONTHNAME9
    {0x41, "October"},             // LOCALE_SMONTHNAME10
    {0x42, "November"},            // LOCALE_SMONTHNAME11
    {0x43, "December"},            // LOCALE_SMONTHNAME12
    {0x44, "Jan"},                 // LOCALE_SABBREVMONTHNAME1
    {0x45, "Feb"},                 // LOCALE_SABBREVMONTHNAME2
    {0x46, "Mar"},                 // LOCALE_SABBREVMONTHNAME3
    {0x47, "Apr"},                 // LOCALE_SABBREVMONTHNAME4
    {0x48, "May"},                 // LOCALE_SABBREVMONTHNAME5
    {0x49, "Jun"},                 // LOCALE_SABBREVMONTHNAME6
    {0x4A, "Jul"},                 // LOCALE_SABBREVMONTHNAME7
    {0x4B, "Aug"},                 // LOCALE_SABBREVMONTHNAME8
    {0x4C, "Sep"},                 // LOCALE_SABBREVMONTHNAME9
    {0x4D, "Oct"},                 // LOCALE_SABBREVMONTHNAME10
    {0x4E, "Nov"},                 // LOCALE_SABBREVMONTHNAME11
    {0x4F, "Dec"},                 // LOCALE_SABBREVMONTHNAME12
    {0x1003, "h:mm:ss tt"},        // LOCALE_STIMEFORMAT
};
static_assert(sizeof(localeTexts) / sizeof(localeTexts[0]) == 43, "one row per LCTYPE");

int osLocaleInfo(uint32_t /*locale: every locale reads the English texts*/, uint32_t lcType,
                 char* out, int size) {
    for (const LocaleText& row : localeTexts) {
        if (row.lcType != lcType) continue;
        size_t length = strlen(row.text);
        if (size <= 0 || length + 1 > static_cast<size_t>(size)) return 0;
        memcpy(out, row.text, length + 1);
        return static_cast<int>(length + 1);
    }
    return 0;
}

int osTimeZone(int32_t* biasMinutes) {
    tzset();  // localtime_r need not read TZ again, nor set tzname and daylight
    time_t now = time(nullptr);
    tm local;
    if (!localtime_r(&now, &local)) return -1;
    *biasMinutes = static_cast<int32_t>(-local.tm_gmtoff / 60);
    if (daylight == 0 || strcmp(tzname[0], tzname[1]) == 0) return 0;
    return local.tm_isdst > 0 ? 2 : 1;
}
