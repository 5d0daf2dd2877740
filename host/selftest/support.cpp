// What the self-test's checks share: the UTC clock as milliseconds of the
// run's first day, the texts of rows, and the rows that judge a log or a
// message that must not be sent.
#include "host/selftest/selftest.h"

#include "host/digits.h"

namespace host {

namespace {

const int32_t kDayMilliseconds = 86400000;

// The value of `count` decimal digits at `at`, which FitsPattern has seen.
int32_t Digits(const char *at, uint32_t count) {
    uint32_t value = 0;
    DecimalValue(at, count, value);
    return static_cast<int32_t>(value);
}

// The first of the copy's requests that carries `name` as a quoted value:
// its body, or beyond the records its stand; null when none does.
const char *Leaked(SelfTest &t, const PluginCopy &copy, const char *name) {
    SeenText quoted;
    quoted << "\"" << name << "\"";
    uint32_t arrived = RouteArrived(t.receiver, *copy.route);
    for (uint32_t i = 0; i < arrived && i < kRouteMarks; ++i) {
        const ReceivedRequest *request = RequestOf(t, copy, i);
        if (request ? BodyHas(*request, quoted.text) : SameText(copy.route->marks[i], name))
            return request ? request->body : copy.route->marks[i];
    }
    return nullptr;
}

}  // namespace

int32_t DayNumber(int32_t year, int32_t month, int32_t day) {
    if (month <= 2) year -= 1;  // the year runs from March
    int32_t era = (year >= 0 ? year : year - 399) / 400;
    int32_t yearOfEra = year - era * 400;
    int32_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int32_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int32_t ClockNow(const SelfTest &t) {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    int32_t days = DayNumber(now.wYear, now.wMonth, now.wDay) - static_cast<int32_t>(t.originDay);
    return days * kDayMilliseconds +
           ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

bool ClockOf(const SelfTest &t, const char *text, int32_t &milliseconds) {
    if (!FitsPattern(text, "####-##-##T##:##:##.###Z")) return false;
    int32_t year = Digits(text, 4);
    int32_t month = Digits(text + 5, 2);
    int32_t day = Digits(text + 8, 2);
    int32_t hour = Digits(text + 11, 2);
    int32_t minute = Digits(text + 14, 2);
    int32_t second = Digits(text + 17, 2);
    int32_t millisecond = Digits(text + 20, 3);
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
    return request.bodyLength == text::Length(pattern) && FitsPattern(request.body, pattern);
}

void SentRows(SelfTest &t, PluginCopy &copy, const Told *told) {
    for (uint32_t i = 0; told->flight; ++told) {
        if (told->dropped) continue;
        const ReceivedRequest *request = RequestOf(t, copy, i++);
        if (told->check)
            Row(t, copy, told->check, told->sentAs, BodyOf(request),
                request && BodyMatches(*request, told->sentAs));
    }
}

void DroppedRows(SelfTest &t, PluginCopy &copy, const Told *told, bool nextArrived) {
    for (uint32_t i = 0; told[i].flight; ++i) {
        if (!told[i].dropped || !told[i].check) continue;
        const char *leaked = Leaked(t, copy, told[i].sentAs);
        uint32_t calls = copy.clientCalls[i];
        SeenText seen;
        if (leaked)
            seen << "sent: " << leaked;
        else if (!nextArrived)
            seen << "unknown: the next event did not arrive after it";
        else
            seen << "nothing sent, " << calls << " client calls";
        bool callsOk = !told[i].noClientCall || calls == 0;
        Row(t, copy, told[i].check,
            told[i].noClientCall ? "nothing sent, 0 client calls" : "nothing sent", seen.text,
            !leaked && nextArrived && callsOk);
    }
}

bool LinesRow(SelfTest &t, PluginCopy &copy, const char *check, const char *const *expected,
              uint32_t count, bool workerOnly) {
    ReadCopyLog(t, copy);
    SeenText wanted, seen;
    if (workerOnly)
        for (uint32_t i = 0; i < count; ++i) wanted << (i ? "; " : "") << expected[i];
    else
        wanted << count << " lines, from \"" << expected[0] << "\" to \"" << expected[count - 1]
               << "\"";
    uint32_t matched = 0;
    for (uint32_t i = 0; i < copy.lineCount; ++i) {
        const char *line = copy.lines[i];
        bool client = FitsPattern(line, "Captured ") || FitsPattern(line, "Bridge ");
        if (workerOnly && client) continue;
        if (matched < count && SameText(line, expected[matched])) {
            ++matched;
            continue;
        }
        seen << (workerOnly ? "worker line " : "line ") << matched + 1 << " is \"" << line << "\"";
        if (matched < count) seen << " where \"" << expected[matched] << "\" belongs";
        return Row(t, copy, check, wanted.text, seen.text, false);
    }
    if (matched < count)
        seen << matched << " of " << count << " lines; missing: \"" << expected[matched] << "\"";
    else
        seen << count << " lines as expected";
    return Row(t, copy, check, wanted.text, seen.text, matched == count);
}

}  // namespace host
