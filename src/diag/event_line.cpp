#include "capture/stand_event.h"
#include "diag/log_file.h"
#include "text/text.h"

void BuildEventLine(char (&line)[kEventLineCapacity], const char *verb, const StandEvent &event,
                    uint32_t status) {
    text::BoundedText out(line);
    out.Append(verb);
    out.Append(' ');
    out.Append(event.action);
    out.Append(' ');
    out.Append(event.callsign);
    if (event.destination[0]) {
        out.Append(' ');
        out.Append(event.destination);
    }
    if (event.stand[0]) {
        out.Append(' ');
        out.Append(event.stand);
    }
    if (status != 0) {
        out.Append(" (HTTP ");
        out.AppendDecimal(status);
        out.Append(')');
    }
}

void BridgeLog::WriteEvent(const char *verb, const StandEvent &event, uint32_t status) {
    char line[kEventLineCapacity];
    BuildEventLine(line, verb, event, status);
    Write(line);
}
