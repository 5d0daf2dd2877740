// The system clock, or a fixed one a test sets.
#include <time.h>

#include <mutex>

#include "standin/resets.h"
#include "standin/standin.h"

namespace {

struct Clock {
    std::mutex mutex;
    bool fixed = false;
    SYSTEMTIME time{};
};

Clock &TheClock() {
    static Clock &clock = *new Clock;  // never destroyed; see kernel_objects.cpp
    return clock;
}

SYSTEMTIME RealUtc() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(parts.tm_year + 1900);
    time.wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time.wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time.wDay = static_cast<WORD>(parts.tm_mday);
    time.wHour = static_cast<WORD>(parts.tm_hour);
    time.wMinute = static_cast<WORD>(parts.tm_min);
    // A leap second reads as :60 on some systems; Windows never shows one.
    time.wSecond = static_cast<WORD>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    time.wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
    return time;
}

}  // namespace

void WINAPI GetSystemTime(SYSTEMTIME *time) {
    Clock &clock = TheClock();
    {
        std::lock_guard<std::mutex> hold(clock.mutex);
        if (clock.fixed) {
            *time = clock.time;
            return;
        }
    }
    *time = RealUtc();
}

namespace standin {

void SetClock(const SYSTEMTIME &time) {
    Clock &clock = TheClock();
    std::lock_guard<std::mutex> hold(clock.mutex);
    clock.fixed = true;
    clock.time = time;
}

void ClearClock() {
    Clock &clock = TheClock();
    std::lock_guard<std::mutex> hold(clock.mutex);
    clock.fixed = false;
}

namespace detail {

void ResetTime() { ClearClock(); }

}  // namespace detail
}  // namespace standin
