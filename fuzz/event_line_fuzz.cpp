// Any verb, event and status: the event line stays within 511 characters,
// says exactly what a plain string model of the line says, and holds no
// line break the event's texts could smuggle in.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "diag/log_file.h"
#include "fuzz/fuzz_event.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < sizeof(StandEvent) + 4) return 0;
    StandEvent event = EventFromBytes(data, size);
    uint32_t status;
    memcpy(&status, data + sizeof event, 4);
    std::string verb(reinterpret_cast<const char *>(data) + sizeof event + 4,
                     size - sizeof event - 4);
    verb = verb.c_str();  // an embedded NUL ends the verb

    char line[kEventLineCapacity];
    memset(line, 0x55, sizeof line);
    BuildEventLine(line, verb.c_str(), event, status);

    auto shown = [](const char *field) {
        std::string out;
        for (const char *p = field; *p; ++p)
            out.push_back(static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f ? '?' : *p);
        return out;
    };
    std::string model = verb + " " + shown(event.action) + " " + shown(event.callsign);
    if (event.destination[0]) model += " " + shown(event.destination);
    if (event.stand[0]) model += " " + shown(event.stand);
    if (status) model += " (HTTP " + std::to_string(status) + ")";
    model = model.substr(0, kEventLineCapacity - 1);
    if (strnlen(line, sizeof line) == sizeof line || model != line) abort();
    if (verb.find_first_of("\r\n") == std::string::npos && strpbrk(line, "\r\n")) abort();
    return 0;
}
