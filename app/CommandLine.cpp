#include "app/CommandLine.h"

#include <cstring>

namespace vx::app {
namespace {

// QApplication's own options, with or without a second dash; "name=value"
// works for those with a value.
const char* const kQtValueOptions[] = {
    "platform",      "platformpluginpath",
    "platformtheme", "plugin",
    "style",         "stylesheet",
    "session",       "display",
    "geometry",      "qwindowgeometry",
    "qwindowtitle",  "qwindowicon",
    "name",          "title",
    "visual",
};
const char* const kQtFlags[] = {"reverse", "nograb", "dograb", "sync", "widgetcount"};

// 2: a Qt option taking the next argument; 1: one standing alone; 0: not Qt's.
int qtOption(std::string a) {
    a.erase(0, a.rfind("--", 0) == 0 ? 2 : 1);
    const auto eq = a.find('=');
    for (const char* o : kQtValueOptions)
        if (a.substr(0, eq) == o)
            return eq == std::string::npos ? 2 : 1;
    for (const char* o : kQtFlags)
        if (a == o)
            return 1;
    return 0;
}

} // namespace

const char* const kStationUsage = "usage: vexora [--station DIR] [Qt options]\n";

const char* const kStationHelp =
    "usage: vexora [--station DIR] [Qt options]\n"
    "\n"
    "The Vexora station: checks printed barcode labels by scanning them back\n"
    "with a serial scanner, prints them, and imports and exports their texts.\n"
    "\n"
    "  --station DIR  the station's folder: config.ini, the label database, the\n"
    "                 journal, error.log, the sounds and the label templates. A\n"
    "                 folder without config.ini is created and filled on first\n"
    "                 start (the settings' defaults with the embedded database\n"
    "                 station.db, the sounds, the example templates); one with\n"
    "                 config.ini is used as it is. A leading ~ is the home folder.\n"
    "                 Default: the folder this program is in, unless it is an\n"
    "                 installed program (in bin/, its files in share/vexora/),\n"
    "                 whose default is ~/vexora-station.\n"
    "  --version      the version\n"
    "  -h, --help     this text\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, -display DISPLAY, ...) are\n"
    "passed on. The tools vexora-import, vexora-journal, vexora-btprint and\n"
    "vexora-portcheck take the same --station DIR.\n";

StationOptions parseStationOptions(int argc, char** argv) {
    StationOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--station" || a.rfind("--station=", 0) == 0) {
            if (a != "--station")
                o.station = a.substr(std::strlen("--station="));
            else if (i + 1 < argc)
                o.station = argv[++i];
            else
                o.error = "--station needs a folder";
            if (o.error.empty() && o.station.empty())
                o.error = "--station needs a folder";
        } else if (a.size() > 1 && a[0] == '-' && qtOption(a) > 0) {
            if (qtOption(a) == 2)
                ++i; // its value
        } else {
            o.error = a.rfind('-', 0) == 0 ? "unknown option " + a : "unexpected argument " + a;
        }
        if (!o.error.empty())
            break;
    }
    return o;
}

} // namespace vx::app
