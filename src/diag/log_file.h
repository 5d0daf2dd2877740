// The plain-text log beside the module: one timestamped line per call,
// appended with the file opened and closed around every line, so nothing is
// ever buffered and other programs may read, move or delete the file between
// lines.
#pragma once

#include <stdint.h>

#include "diag/timestamp.h"
#include "platform/win32.h"

struct StandEvent;

const uint32_t kPathCapacity = 260;
const uint32_t kLogLineCapacity = 768;
const uint32_t kEventLineCapacity = 512;

struct BridgeLog {
    char logPath[kPathCapacity];  // empty: logging is off
    CRITICAL_SECTION logLock;     // held only while the file is open

    // Appends "<timestamp> <message>\r\n", cut at 767 characters. Every
    // failure loses just this line.
    void Write(const char *message);

    // Writes the one-line summary of `event` (see BuildEventLine).
    void WriteEvent(const char *verb, const StandEvent &event, uint32_t status);
};

// "<verb> <action> <callsign>[ <destination>][ <stand>][ (HTTP <status>)]",
// the status piece only when status is not 0; control bytes of the event's
// texts shown as '?', so that one event always makes one line.
void BuildEventLine(char (&line)[kEventLineCapacity], const char *verb, const StandEvent &event,
                    uint32_t status);

// The bytes of one log line: timestamp, space, message, CR LF, at most 767.
void BuildLogLine(char (&line)[kLogLineCapacity], const UtcTimestamp &stamp, const char *message);
