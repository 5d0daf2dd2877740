// Any stand event: the body always fits, and whenever the fields are valid
// UTF-8 it parses (with a JSON library we did not write) into exactly the
// keys the body must have, in order, with the field texts as values.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <nlohmann/json.hpp>
#include <string>

#include "delivery/json_writer.h"
#include "fuzz/fuzz_event.h"

namespace {

// The field as the body carries it: control bytes other than BS, TAB, LF,
// FF and CR are dropped.
std::string Expected(const char *field) {
    std::string out;
    for (const char *p = field; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 || c == 0x08 || c == 0x09 || c == 0x0a || c == 0x0c || c == 0x0d)
            out.push_back(*p);
    }
    return out;
}

bool ValidUtf8(const char *field) {
    try {
        (void)nlohmann::json(std::string(field)).dump();
        return true;
    } catch (const nlohmann::json::exception &) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    StandEvent event = EventFromBytes(data, size);
    JsonWriter writer;
    BuildEventBody(event, writer);
    if (!writer.ok || writer.length > 435 || strlen(writer.text) != writer.length) abort();
    char body[kBodyCapacity];
    PrepareSendBuffer(writer, body);
    if (strcmp(body, writer.text) != 0) abort();  // a complete body is sent unchanged

    const char *fields[] = {event.action, event.callsign, event.observedAt,
                            event.controller, event.destination, event.stand};
    for (const char *f : fields)
        if (!ValidUtf8(f)) return 0;

    nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(body);  // throws, and so aborts, on bad JSON
    std::vector<std::string> keys;
    for (auto it = parsed.begin(); it != parsed.end(); ++it) keys.push_back(it.key());
    std::vector<std::string> expectedKeys = {"action", "callsign", "observedAt", "controller"};
    if (event.destination[0]) expectedKeys.push_back("destination");
    if (event.stand[0]) expectedKeys.push_back("stand");
    if (keys != expectedKeys) abort();

    if (parsed["action"] != Expected(event.action)) abort();
    if (parsed["callsign"] != Expected(event.callsign)) abort();
    if (parsed["observedAt"] != Expected(event.observedAt)) abort();
    if (event.controller[0] ? parsed["controller"] != Expected(event.controller)
                            : !parsed["controller"].is_null())
        abort();
    if (event.destination[0] && parsed["destination"] != Expected(event.destination)) abort();
    if (event.stand[0] && parsed["stand"] != Expected(event.stand)) abort();
    return 0;
}
