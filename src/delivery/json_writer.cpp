#include "delivery/json_writer.h"

#include "text/body_bytes.h"
#include "text/text.h"

namespace {

// The capacity rule for every byte: stored only while the text stays within
// kBodyCapacity - 1 bytes; the first byte without room fails the body.
bool Put(JsonWriter &writer, char c) {
    if (writer.length + 1 > kBodyCapacity - 1) {
        writer.ok = false;
        return false;
    }
    writer.text[writer.length++] = c;
    return true;
}

void Terminate(JsonWriter &writer) { writer.text[writer.length] = '\0'; }

// The escape letter of a byte JSON writes as a backslash pair, 0 for a
// control byte that is dropped, and the byte itself otherwise.
char EscapeOf(unsigned char c, bool &pair) {
    pair = false;
    if (!text::BodyKeeps(c)) return 0;
    pair = true;
    switch (c) {
    case '"': return '"';
    case '\\': return '\\';
    case 0x08: return 'b';
    case 0x09: return 't';
    case 0x0A: return 'n';
    case 0x0C: return 'f';
    case 0x0D: return 'r';
    default: break;
    }
    pair = false;
    return static_cast<char>(c);
}

}  // namespace

JsonWriter::JsonWriter() : length(0), ok(true) {
    text[0] = '\0';
    AppendRaw(*this, "{\"action\":");
}

void AppendRaw(JsonWriter &writer, const char *literal) {
    if (!writer.ok) return;
    for (const char *p = literal; *p; ++p)
        if (!Put(writer, *p)) return;
    Terminate(writer);
}

void AppendString(JsonWriter &writer, const char *value) {
    if (!writer.ok) return;
    if (!Put(writer, '"')) return;
    Terminate(writer);
    for (const char *p = value; *p; ++p) {
        bool pair;
        char out = EscapeOf(static_cast<unsigned char>(*p), pair);
        if (pair) {
            if (!Put(writer, '\\') || !Put(writer, out)) return;
        } else if (out != 0) {
            if (!Put(writer, out)) return;
        }
        Terminate(writer);
    }
    if (!Put(writer, '"')) return;
    Terminate(writer);
}

void BuildEventBody(const StandEvent &event, JsonWriter &writer) {
    AppendString(writer, event.action);
    AppendRaw(writer, ",\"callsign\":");
    AppendString(writer, event.callsign);
    AppendRaw(writer, ",\"observedAt\":");
    AppendString(writer, event.observedAt);
    AppendRaw(writer, ",\"controller\":");
    if (event.controller[0])
        AppendString(writer, event.controller);
    else
        AppendRaw(writer, "null");
    if (event.destination[0]) {
        AppendRaw(writer, ",\"destination\":");
        AppendString(writer, event.destination);
    }
    if (event.stand[0]) {
        AppendRaw(writer, ",\"stand\":");
        AppendString(writer, event.stand);
    }
    AppendRaw(writer, "}");
}

void PrepareSendBuffer(const JsonWriter &writer, char (&sendBuffer)[kBodyCapacity]) {
    // The whole buffer: a body of kBodyCapacity - 1 bytes must arrive whole.
    text::TrimmedCopy(sendBuffer, writer.text);
}
