// One stand event, the only record that travels from the client's thread to
// the delivery worker. Plain bytes, always copied whole; an empty field
// means the value is absent.
#pragma once

#include <stdint.h>

#include "diag/timestamp.h"

struct StandEvent {
    char action[20];       // "assign", "cancel", "manual_occupy", "manual_cancel"
    char callsign[40];     // upper case, never empty once queued
    char destination[8];   // upper case airport code
    char stand[40];        // upper case stand designator
    UtcTimestamp observedAt;
    char controller[40];   // upper case callsign of the controller running the client
};

static_assert(sizeof(StandEvent) == 180, "six fields, no gaps");
