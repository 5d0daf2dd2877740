// Recognising stand messages in a scratch pad and deciding whether the
// event they describe may be queued. Pure functions: no client calls.
//
//   "DOK/S/<stand>"           assign (blank stand: cancel), destination from the flight plan
//   "DOK/M/"                  manual_cancel
//   "DOK/M/<airport>/<stand>" manual_occupy
#pragma once

#include <stdint.h>

#include "capture/stand_event.h"

enum class StandMessageKind { Stand, ManualCancel, ManualOccupy };

struct StandMessage {
    StandMessageKind kind;
    const char *airport;  // ManualOccupy: airport text (untrimmed), `airportLength` bytes
    uint32_t airportLength;
    const char *stand;    // Stand, ManualOccupy: the rest of the scratch pad
};

// False when `scratchPad` holds no stand message.
bool RecogniseStandMessage(const char *scratchPad, StandMessage &message);

// Fills action, destination and stand of `event` from `message`;
// `planDestination` (may be null) is used for "DOK/S/" messages only.
void ComposeStandEvent(const StandMessage &message, const char *planDestination,
                       StandEvent &event);

// The checks a composed event must pass before it is queued.
bool QualifiesForQueue(StandMessageKind kind, const StandEvent &event, const char *airports);

// True when `destination` equals one of the codes of `airports` (separated
// by runs of TAB, LF, CR, SPACE, ',' and ';'), both cut to 7 bytes.
bool AirportListed(const char *airports, const char *destination);

// The next code of an airport list, upper-cased and cut to 7 bytes, moving
// `cursor` past it; false when the list holds no more codes.
bool NextAirportCode(const char *&cursor, char (&code)[8]);
