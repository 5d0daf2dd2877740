// The command line of the test client's programs, without a C runtime.
#pragma once

#include <stdint.h>

namespace host {

// Splits the command line into at most `capacity` arguments, in place;
// double quotes group words and are removed. Returns how many there are,
// also beyond `capacity`.
uint32_t SplitCommandLine(char *p, char **arguments, uint32_t capacity);

}  // namespace host
