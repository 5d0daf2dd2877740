// Scenario files of the test client: plain text, one step a line.
//
//   # a comment; blank lines are skipped
//   <step> <word> <word> ...
//
// Words are separated by spaces or tabs. Inside a word, \s is a space, \t a
// tab, \n a line feed, \r a carriage return, \\ a backslash and \xHH any
// byte; the word (null) stands for a null text. The steps themselves are
// listed by the runner (runner_main.cpp) and in docs/test-client.md.
#pragma once

#include <stdint.h>

namespace host {

const uint32_t kMaxWords = 16;

struct ScenarioLine {
    uint32_t number;  // 1-based line number in the file
    uint32_t count;   // words, the step's name included
    const char *words[kMaxWords];  // decoded; null for (null)
    bool tooManyWords;
};

// Walks a scenario held in a writable buffer of length + 1 bytes, decoding
// words in place; text[length] becomes the NUL of the last line.
class ScenarioReader {
public:
    ScenarioReader(char *text, uint32_t length) : next_(text), end_(text + length), number_(0) {
        *end_ = '\0';
    }
    // False at the end of the text.
    bool Next(ScenarioLine &line);

private:
    char *next_;
    char *end_;
    uint32_t number_;
};

}  // namespace host
