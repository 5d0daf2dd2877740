#include "capture/stand_event.h"
#include "diag/log_file.h"
#include "text/text.h"

namespace {

// A scratch pad may hold any byte, and it may come from another controller
// over the network: a CR or LF copied into the log would end the line early
// and let the rest pose as a line of its own. Control bytes of an event's
// texts are shown as '?'.
void AppendShown(text::BoundedText &out, const char *field) {
    for (const char *p = field; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        out.Append(c < 0x20 || c == 0x7f ? '?' : *p);
    }
}

}  // namespace

void BuildEventLine(char (&line)[kEventLineCapacity], const char *verb, const StandEvent &event,
                    uint32_t status) {
    text::BoundedText out(line);
    out.Append(verb);
    out.Append(' ');
    AppendShown(out, event.action);
    out.Append(' ');
    AppendShown(out, event.callsign);
    if (event.destination[0]) {
        out.Append(' ');
        AppendShown(out, event.destination);
    }
    if (event.stand[0]) {
        out.Append(' ');
        AppendShown(out, event.stand);
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
