#include "host/command_line.h"

namespace host {

uint32_t SplitCommandLine(char *p, char **arguments, uint32_t capacity) {
    uint32_t count = 0;
    while (*p) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        char *out = p;
        if (count < capacity) arguments[count] = out;
        ++count;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"')
                quoted = !quoted;
            else
                *out++ = *p;
            ++p;
        }
        if (*p) ++p;
        *out = '\0';
    }
    return count;
}

}  // namespace host
