// Shared helpers of the native unit tests.
#pragma once

#include <string>
#include <vector>

#include "capture/stand_event.h"
#include "platform/win32.h"

namespace testing_support {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);

// The lines of a log file without their timestamps; every line must end in
// CR LF and start with a well-formed timestamp and a space, else the test fails.
std::vector<std::string> LogMessages(const std::string &logPath);

SYSTEMTIME Time(int year, int month, int day, int hour, int minute, int second, int ms);

StandEvent MakeEvent(const char *action, const char *callsign, const char *destination,
                     const char *stand, const char *controller = "EDDF_GND");

}  // namespace testing_support
