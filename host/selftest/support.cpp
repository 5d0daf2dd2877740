// What the self-test's checks share: the UTC clock as milliseconds of the
// run's first day, the texts of rows, and the rows that judge a log or a
// message that must not be sent.
#include "host/selftest/selftest.h"

namespace host {

namespace {

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

bool BodyHas(const ReceivedRequest &request, const char *needle) {
    return FindAfter(request.body, request.bodyLength, needle) != nullptr;
}

bool BodyMatches(const ReceivedRequest &request, const char *pattern) {
    if (request.bodyLength != text::Length(pattern)) return false;
    for (uint32_t i = 0; pattern[i]; ++i) {
        char c = request.body[i];
        if (pattern[i] == '#' ? !(c >= '0' && c <= '9') : c != pattern[i]) return false;
    }
    return true;
}

void NothingSentRow(SelfTest &t, PluginCopy &copy, const char *check,
                    const char *leaked, bool nextArrived, uint32_t clientCalls,
                    bool noClientCall) {
    SeenText seen;
    if (leaked)
        seen << "sent: " << leaked;
    else if (!nextArrived)
        seen << "unknown: the next event did not arrive after it";
    else
        seen << "nothing sent, " << clientCalls << " client calls";
    bool callsOk = !noClientCall || clientCalls == 0;
    Row(t, copy, check, noClientCall ? "nothing sent, 0 client calls" : "nothing sent", seen.text,
        !leaked && nextArrived && callsOk);
}

bool LogLinesRow(SelfTest &t, PluginCopy &copy, const char *check, const char *const *expected,
                 uint32_t count) {
    ReadCopyLog(t, copy);
    SeenText wanted;
    wanted << count << " lines, from \"" << expected[0] << "\" to \"" << expected[count - 1]
           << "\"";
    SeenText seen;
    seen << copy.lineCount << " lines";
    bool ok = true;
    for (uint32_t i = 0; ok && i < count && i < copy.lineCount; ++i) {
        if (SameText(copy.lines[i], expected[i])) continue;
        seen << "; line " << i + 1 << " is \"" << copy.lines[i] << "\" where \"" << expected[i]
             << "\" belongs";
        ok = false;
    }
    if (ok && copy.lineCount < count)
        seen << "; missing from line " << copy.lineCount + 1 << ": \"" << expected[copy.lineCount]
             << "\"";
    else if (ok && copy.lineCount > count)
        seen << "; more than expected: \"" << copy.lines[count] << "\"";
    else if (ok)
        seen << " as expected";
    return Row(t, copy, check, wanted.text, seen.text, ok && copy.lineCount == count);
}

bool WorkerLinesRow(SelfTest &t, PluginCopy &copy, const char *check,
                    const char *const *expected, uint32_t count) {
    ReadCopyLog(t, copy);
    SeenText wanted;
    for (uint32_t i = 0; i < count; ++i) wanted << (i ? "; " : "") << expected[i];
    SeenText seen;
    uint32_t matched = 0;
    bool ok = true;
    for (uint32_t i = 0; i < copy.lineCount && ok; ++i) {
        const char *line = copy.lines[i];
        if (StartsWith(line, "Captured ") || StartsWith(line, "Bridge ")) continue;
        if (matched < count && SameText(line, expected[matched])) {
            ++matched;
            continue;
        }
        seen << "worker line " << matched + 1 << " is \"" << line << "\"";
        ok = false;
    }
    if (ok && matched < count)
        seen << matched << " of " << count << " lines; missing: \"" << expected[matched] << "\"";
    else if (ok)
        seen << "as expected";
    return Row(t, copy, check, wanted.text, seen.text, ok && matched == count);
}

}  // namespace host
