// The capture decision for any scratch pad, flight-plan destination, airport
// list and callsign: it stays in bounds, and every event it would queue is
// complete for its action and allowed by the airport list.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "capture/stand_message.h"
#include "text/text.h"

namespace {

// Splits the input at its first three zero bytes into four texts.
void Split(const uint8_t *data, size_t size, std::string (&parts)[4]) {
    size_t part = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && part < 3) {
            ++part;
            continue;
        }
        parts[part].push_back(static_cast<char>(data[i]));
    }
}

bool Terminated(const char *field, size_t capacity) { return strnlen(field, capacity) < capacity; }

bool Is(const char *a, const char *b) { return strcmp(a, b) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string parts[4];  // scratch pad, destination, airports, callsign
    Split(data, size, parts);
    char airports[64];
    text::TrimmedUpperCopy(airports, parts[2].c_str());

    StandEvent event;
    memset(&event, 0, sizeof event);
    text::TrimmedUpperCopy(event.callsign, parts[3].c_str());
    StandMessage message;
    if (!RecogniseStandMessage(parts[0].c_str(), message)) return 0;
    ComposeStandEvent(message, parts[1].c_str(), event);
    if (!Terminated(event.action, sizeof event.action) ||
        !Terminated(event.destination, sizeof event.destination) ||
        !Terminated(event.stand, sizeof event.stand))
        abort();
    if (!QualifiesForQueue(message.kind, event, airports)) return 0;

    if (event.callsign[0] == '\0') abort();
    if (event.destination[0] && !AirportListed(airports, event.destination)) abort();
    if ((Is(event.action, "assign") || Is(event.action, "manual_occupy")) && !event.stand[0]) abort();
    if ((Is(event.action, "assign") || Is(event.action, "cancel")) && !event.destination[0]) abort();
    if (Is(event.action, "manual_cancel") && (event.destination[0] || event.stand[0])) abort();
    if (Is(event.action, "cancel") && event.stand[0]) abort();
    return 0;
}
