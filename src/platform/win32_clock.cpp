// Win32 clocks, locale texts and the time zone: the performance counter, the
// system time, GetLocaleInfoA and GetTimeZoneInformation.
#include <windows.h>

#include "platform/platform.h"

void osSleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}

uint64_t osPerfFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

uint64_t osPerfCounter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart);
}

uint64_t osSystemTimeAsFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

int osLocaleInfo(uint32_t locale, uint32_t lcType, char* out, int size) {
    // A size of 0 would make GetLocaleInfoA report the length instead of failing.
    if (size <= 0) return 0;
    return GetLocaleInfoA(locale, lcType, out, size);
}

int osTimeZone(int32_t* biasMinutes) {
    TIME_ZONE_INFORMATION zone;
    DWORD kind = GetTimeZoneInformation(&zone);
    if (kind == TIME_ZONE_ID_INVALID) return -1;
    int32_t bias = zone.Bias;
    if (kind == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    else if (kind == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    *biasMinutes = bias;
    return static_cast<int>(kind);
}
