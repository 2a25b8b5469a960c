#pragma once

#include <string>

namespace vx::app {

// The station's command line: its own options, and Qt's (-platform, -style,
// -display …), which are let through for QApplication to take.
struct StationOptions {
    std::string station; // --station DIR; "" when not given
    bool help = false;
    bool version = false;
    std::string error; // what is wrong with the command line; "" when nothing
};

StationOptions parseStationOptions(int argc, char** argv);

// --help's text, beginning with the usage line.
extern const char* const kStationHelp;
// The usage line alone, for a wrong command line.
extern const char* const kStationUsage;

} // namespace vx::app
