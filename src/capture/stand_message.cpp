#include "capture/stand_message.h"

#include "text/body_bytes.h"
#include "text/text.h"

namespace {

const uint32_t kPrefixLength = 6;
const uint32_t kAirportCodeLength = sizeof(StandEvent{}.destination) - 1;

bool HasPrefix(const char *s, const char *prefix) {
    for (uint32_t i = 0; i < kPrefixLength; ++i)
        if (s[i] != prefix[i]) return false;  // also stops at s's NUL
    return true;
}

bool IsAirportSeparator(unsigned char c) { return text::IsWhitespace(c) || c == ',' || c == ';'; }

bool IsEmpty(const char *field) { return field[0] == '\0'; }

// Empty as the endpoint sees it: the body would carry "" or blanks alone.
bool ArrivesEmpty(const char *field) { return !text::BodyShowsSomethingOf(field); }

// Equal in the first `limit` bytes, or both ending together before that.
bool SameCode(const char *a, const char *b, uint32_t limit) {
    for (uint32_t i = 0; i < limit; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

void SetAction(StandEvent &event, const char *action) {
    text::TrimmedCopy(event.action, action);
}

}  // namespace

bool RecogniseStandMessage(const char *scratchPad, StandMessage &message) {
    message = StandMessage{};
    if (HasPrefix(scratchPad, "DOK/S/")) {
        message.kind = StandMessageKind::Stand;
        message.stand = scratchPad + kPrefixLength;
        return true;
    }
    if (!HasPrefix(scratchPad, "DOK/M/")) return false;

    const char *p = scratchPad + kPrefixLength;
    while (text::IsWhitespace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') {
        message.kind = StandMessageKind::ManualCancel;
        return true;
    }
    const char *slash = p;
    while (*slash && *slash != '/') ++slash;
    if (*slash != '/') return false;
    message.kind = StandMessageKind::ManualOccupy;
    message.airport = p;
    message.airportLength = static_cast<uint32_t>(slash - p);
    message.stand = slash + 1;
    return true;
}

void ComposeStandEvent(const StandMessage &message, const char *planDestination,
                       StandEvent &event) {
    switch (message.kind) {
    case StandMessageKind::Stand:
        text::TrimmedUpperCopy(event.destination, planDestination);
        text::TrimmedUpperCopy(event.stand, message.stand);
        SetAction(event, IsEmpty(event.stand) ? "cancel" : "assign");
        break;
    case StandMessageKind::ManualCancel:
        SetAction(event, "manual_cancel");
        break;
    case StandMessageKind::ManualOccupy:
        text::TrimmedUpperCopy(event.destination, sizeof event.destination, message.airport,
                               message.airportLength);
        text::TrimmedUpperCopy(event.stand, message.stand);
        SetAction(event, "manual_occupy");
        break;
    }
}

bool NextAirportCode(const char *&cursor, char (&code)[8]) {
    while (*cursor && IsAirportSeparator(static_cast<unsigned char>(*cursor))) ++cursor;
    if (*cursor == '\0') return false;
    const char *start = cursor;
    while (*cursor && !IsAirportSeparator(static_cast<unsigned char>(*cursor))) ++cursor;
    text::TrimmedUpperCopy(code, sizeof code, start, static_cast<uint32_t>(cursor - start));
    return true;
}

bool AirportListed(const char *airports, const char *destination) {
    char code[kAirportCodeLength + 1];
    for (const char *cursor = airports; NextAirportCode(cursor, code);)
        if (SameCode(code, destination, kAirportCodeLength)) return true;
    return false;
}

bool QualifiesForQueue(StandMessageKind kind, const StandEvent &event, const char *airports) {
    if (ArrivesEmpty(event.callsign)) return false;
    // A field that is present must carry something to the endpoint: an
    // assignment of "" or of a blank is no assignment.
    if (!IsEmpty(event.stand) && ArrivesEmpty(event.stand)) return false;
    if (!IsEmpty(event.destination) &&
        (ArrivesEmpty(event.destination) || !AirportListed(airports, event.destination)))
        return false;
    // An assignment's stand is never empty: a blank one made it a cancellation.
    if (kind == StandMessageKind::ManualOccupy && IsEmpty(event.stand)) return false;
    if (kind == StandMessageKind::Stand && IsEmpty(event.destination)) return false;
    return true;
}
