// The JSON body of one stand event, built in a fixed buffer. A byte that
// finds no room clears the sticky `ok` flag; every later step is then a
// no-op, and the caller looks at `ok` once at the end.
#pragma once

#include <stdint.h>

#include "capture/stand_event.h"

const uint32_t kBodyCapacity = 2048;

struct JsonWriter {
    char text[kBodyCapacity];
    uint32_t length;  // never above kBodyCapacity - 1
    bool ok;

    // The start state: `{"action":`, ok.
    JsonWriter();
};

// Appends `literal` byte by byte (keys, null, the closing brace).
void AppendRaw(JsonWriter &writer, const char *literal);

// Appends `value` as a JSON string: quote, backslash, BS, TAB, LF, FF and CR
// escaped, every other control byte dropped, every other byte unchanged.
void AppendString(JsonWriter &writer, const char *value);

// The whole body of `event`, keys in their fixed order; `destination` and
// `stand` only when present, `controller` as null when absent.
void BuildEventBody(const StandEvent &event, JsonWriter &writer);

// What goes on the wire: the writer's text without surrounding whitespace.
void PrepareSendBuffer(const JsonWriter &writer, char (&sendBuffer)[kBodyCapacity]);
