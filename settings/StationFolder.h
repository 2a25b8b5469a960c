#pragma once

#include <string>
#include <vector>

namespace vx::settings {

// Where a station keeps what it writes (config.ini, the label database, the
// journal, error.log) and what it plays and prints with (sounds, templates),
// and where the program's own files (help, sounds, templates) are installed.
//
// A program run from a folder of its own (the demo station, a copied folder,
// a Windows installation) keeps its station beside the executable. An
// installed program, in bin/ with its files in ../share/vexora/, cannot
// write there: its station is a folder of the user's, named with --station or
// by default ~/vexora-station, filled from the installed files on first
// start.
struct StationPlace {
    std::string folder;       // the station's folder, with a trailing separator
    std::string programFiles; // the installed help, sounds and templates, trailing separator
    bool ownFolder = false;   // the executable's own folder, taken as it is
};

// The default station folder's name, in the user's home folder.
inline constexpr const char* kDefaultStationName = "vexora-station";
// The files a new station folder gets from the program's files, when they
// are installed: the sounds and the example label templates.
extern const char* const kStationFiles[];
extern const std::size_t kStationFileCount;

// exeFolder: the executable's folder, with a trailing separator. station:
// the --station value as given; "" when there was none.
StationPlace locateStation(const std::string& exeFolder, const std::string& station);

// First start in a folder that is not the executable's own: creates the
// folder (and its parents) and, when it holds no config.ini yet, puts the
// sounds and templates there and writes config.ini with the defaults, the
// embedded database station.db named. A folder with a config.ini is used as
// it is. Returns the names of the files put there; raises data::FileError
// or the settings' write error.
std::vector<std::string> prepareStationFolder(const StationPlace& place);

// "~" and "~/…" with the user's home folder, as a shell would (a desktop
// entry's command line has no shell); any other path as given.
std::string expandHome(const std::string& path);

// The help file a station shows: its own help.txt when it has one, else the
// installed one.
std::string helpFile(const StationPlace& place);

} // namespace vx::settings
