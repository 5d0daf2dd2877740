#include "host/console.h"
#include "host/runner.h"

namespace host {

bool SameText(const char *a, const char *b) {
    if (!a || !b) return a == b;
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

bool ParseNumber(const char *s, uint32_t &value) {
    if (!s || !*s) return false;
    value = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        value = value * 10 + static_cast<uint32_t>(*s - '0');
    }
    return true;
}

bool Fail(const ScenarioLine &line, const char *why) {
    ConsoleLine out;
    out << "line " << line.number << ": error: " << why;
    out.Print();
    return false;
}

bool NeedObject(Runner &r, const ScenarioLine &line) {
    return r.object ? true : Fail(line, "no plug-in object (run init first)");
}

}  // namespace host
