#include "settings/StationFolder.h"

#include "data/Folder.h"
#include "data/NewFile.h"
#include "settings/StationSettings.h"

#include <iterator>

namespace vx::settings {
namespace {

// Where an installed program's files are, from its bin/ folder.
#ifndef VEXORA_SHARE_FROM_BIN
#define VEXORA_SHARE_FROM_BIN "../share/vexora/"
#endif

std::string withSeparator(std::string folder) {
    if (folder.empty() || !data::isSeparator(folder.back()))
        folder += '/';
    return folder;
}

// An installed program: nothing of its own beside it, its files in share/.
bool isInstalled(const std::string& exeFolder) {
    return !data::pathExists(exeFolder + "help.txt") &&
           data::pathExists(exeFolder + VEXORA_SHARE_FROM_BIN + "help.txt");
}

} // namespace

const char* const kStationFiles[] = {
    "0.wav",
    "1.wav",
    "2.wav",
    "3.wav",
    "4.wav",
    "5.wav",
    "6.wav",
    "7.wav",
    "8.wav",
    "9.wav",
    "chong_d.wav",
    "vexora-label.glabels",
    "vexora-label.zpl",
};
const std::size_t kStationFileCount = std::size(kStationFiles);

std::string expandHome(const std::string& path) {
    if (path == "~" || (path.size() > 1 && path[0] == '~' && data::isSeparator(path[1]))) {
        const std::string home = data::homeFolder();
        if (!home.empty())
            return home + path.substr(1);
    }
    return path;
}

StationPlace locateStation(const std::string& exeFolder, const std::string& station) {
    StationPlace place;
    const bool installed = isInstalled(exeFolder);
    place.programFiles = installed ? exeFolder + VEXORA_SHARE_FROM_BIN : exeFolder;
    if (!station.empty()) {
        place.folder = withSeparator(data::absolutePath(expandHome(station)));
    } else if (installed) {
        const std::string home = data::homeFolder();
        place.folder =
            withSeparator(withSeparator(home.empty() ? "." : home) + kDefaultStationName);
    } else {
        place.folder = exeFolder;
        place.ownFolder = true;
    }
    return place;
}

std::vector<std::string> prepareStationFolder(const StationPlace& place) {
    std::vector<std::string> made;
    if (place.ownFolder)
        return made;
    data::makeFolders(place.folder);
    if (data::pathExists(place.folder + StationSettings::kFileName))
        return made;
    for (std::size_t i = 0; i < kStationFileCount; ++i) {
        const std::string name = kStationFiles[i];
        const std::string from = place.programFiles + name, to = place.folder + name;
        if (from == to || !data::pathExists(from) || data::pathExists(to))
            continue;
        data::copyToNewFile(from, to);
        made.push_back(name);
    }
    // config.ini last: a folder whose filling was cut short is filled again.
    const StationSettings config(place.folder);
    data::DbSettings db;
    db.server = "station.db";
    db.user = "sa";
    config.setDatabase(db);
    config.setPortName("");
    config.setCodeField("1", "0");
    config.setColumnCount("1");
    config.setLastPrinted("0");
    config.setTemplatePath("");
    made.push_back(StationSettings::kFileName);
    return made;
}

std::string helpFile(const StationPlace& place) {
    const std::string own = place.folder + "help.txt";
    return data::pathExists(own) ? own : place.programFiles + "help.txt";
}

} // namespace vx::settings
