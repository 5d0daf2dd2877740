// What the self-test's checks share: the run's time budget, the UTC clock
// as milliseconds of the run's first day, and the plug-in's log.
#include "host/selftest/selftest.h"

namespace host {

namespace {

// Every wait for the self-test's own copy ends this long after the load,
// whatever arrived; the other copies' waits end 13.5 s after it, so that a
// run in which nothing arrives still ends soon after.
const uint32_t kBudgetMilliseconds = 8500;
const int32_t kDayMilliseconds = 86400000;

bool Digits(const char *text, uint32_t count, int32_t &value) {
    value = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int32_t DayNumber(int32_t year, int32_t month, int32_t day) {
    year -= month <= 2;
    int32_t era = (year >= 0 ? year : year - 399) / 400;
    int32_t yearOfEra = year - era * 400;
    int32_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int32_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

const char *Within(SeenText &text, const char *what, uint32_t budgetMilliseconds) {
    text << what << " within " << budgetMilliseconds / 1000 << " s";
    return text.text;
}

const char *Took(SeenText &text, const char *what, uint32_t milliseconds) {
    text << what << " in ";
    AppendSeconds(text.out, milliseconds);
    return text.text;
}

uint32_t RunMilliseconds(const SelfTest &t) {
    return GetTickCount() - t.startMs;
}

uint32_t WaitBudget(const SelfTest &t, uint32_t wanted) {
    uint32_t spent = GetTickCount() - t.loadedMs;
    uint32_t left = spent < kBudgetMilliseconds ? kBudgetMilliseconds - spent : 0;
    return wanted < left ? wanted : left;
}

int32_t ClockNow(const SelfTest &t) {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    int32_t days = DayNumber(now.wYear, now.wMonth, now.wDay) - static_cast<int32_t>(t.originDay);
    return days * kDayMilliseconds +
           ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

bool ClockOf(const SelfTest &t, const char *text, int32_t &milliseconds) {
    static const char kForm[] = "####-##-##T##:##:##.###Z";
    for (uint32_t i = 0; kForm[i]; ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == '#' ? !digit : text[i] != kForm[i]) return false;
    }
    int32_t year, month, day, hour, minute, second, millisecond;
    Digits(text, 4, year);
    Digits(text + 5, 2, month);
    Digits(text + 8, 2, day);
    Digits(text + 11, 2, hour);
    Digits(text + 14, 2, minute);
    Digits(text + 17, 2, second);
    Digits(text + 20, 3, millisecond);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return false;
    int32_t days = DayNumber(year, month, day) - static_cast<int32_t>(t.originDay);
    if (days < -1 || days > 1) return false;  // nowhere near the run
    milliseconds = days * kDayMilliseconds + ((hour * 60 + minute) * 60 + second) * 1000 +
                   millisecond;
    return true;
}

uint32_t ReadLog(SelfTest &t) {
    ReadWholeFile(t.files.log, t.log, sizeof t.log, t.logLength);
    uint32_t lines = 0;
    for (uint32_t i = 1; i < t.logLength; ++i)
        if (t.log[i - 1] == '\r' && t.log[i] == '\n') ++lines;
    return lines;
}

bool WaitForLogLines(SelfTest &t, uint32_t lines, uint32_t milliseconds) {
    uint32_t deadline = RunMilliseconds(t) + WaitBudget(t, milliseconds);
    while (ReadLog(t) < lines) {
        if (RunMilliseconds(t) >= deadline) return false;
        Sleep(10);
    }
    return true;
}

bool LogMessage(const SelfTest &t, uint32_t index, char (&message)[256]) {
    message[0] = '\0';
    uint32_t start = 0;
    for (uint32_t line = 0; line < index; ++line) {
        while (start + 1 < t.logLength && !(t.log[start] == '\r' && t.log[start + 1] == '\n'))
            ++start;
        if (start + 1 >= t.logLength) return false;
        start += 2;
    }
    uint32_t end = start;
    while (end + 1 < t.logLength && !(t.log[end] == '\r' && t.log[end + 1] == '\n')) ++end;
    const char *body = end + 1 < t.logLength ? MessageOf(t, t.log + start, end - start) : nullptr;
    if (!body) return false;
    text::BoundedText out(message);
    for (const char *c = body; c < t.log + end; ++c) out.Append(*c);
    return true;
}

const char *MessageOf(const SelfTest &t, const char *line, uint32_t length) {
    int32_t stamp;
    return length >= 25 && line[24] == ' ' && ClockOf(t, line, stamp) ? line + 25 : nullptr;
}

}  // namespace host
