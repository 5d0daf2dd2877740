// Turns fuzz input into a StandEvent the way the product always holds one:
// every field terminated within its size, whatever the bytes before.
#pragma once

#include <stdint.h>
#include <string.h>

#include "capture/stand_event.h"

inline StandEvent EventFromBytes(const uint8_t *data, size_t size) {
    StandEvent event;
    memset(&event, 0, sizeof event);
    memcpy(&event, data, size < sizeof event ? size : sizeof event);
    event.action[sizeof event.action - 1] = '\0';
    event.callsign[sizeof event.callsign - 1] = '\0';
    event.destination[sizeof event.destination - 1] = '\0';
    event.stand[sizeof event.stand - 1] = '\0';
    event.observedAt[sizeof event.observedAt - 1] = '\0';
    event.controller[sizeof event.controller - 1] = '\0';
    return event;
}
