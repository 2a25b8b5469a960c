// Imports a label text file into a station's database the way the station's
// "文本数据导入" button does (whole lines, or one column of separated lines),
// without the window: for setting up stations and demos.
//
//   vexora-import [--station DIR] FILE [ANSWER] [TABLE]
//   vexora-import STATION_FOLDER FILE [ANSWER] [TABLE]   (the older form)
//
// The database is the one named in the station's config.ini. See kHelp.

#include "data/ConnectionString.h"
#include "data/Folder.h"
#include "data/RecordTable.h"
#include "data/TextImport.h"
#include "settings/StationFolder.h"
#include "settings/StationSettings.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

using namespace vx;

namespace {

const char* const kUsageLine = "usage: vexora-import [--station DIR] FILE [ANSWER] [TABLE]\n";

const char* const kHelp =
    "usage: vexora-import [--station DIR] FILE [ANSWER] [TABLE]\n"
    "       vexora-import STATION_FOLDER FILE [ANSWER] [TABLE]\n"
    "\n"
    "Imports the label texts of FILE into the station's database (the one its\n"
    "config.ini names) as the station's \"文本数据导入\" button does: the table is\n"
    "created anew and its records numbered 1, 2, 3 ... in the file's order.\n"
    "\n"
    "  --station DIR  the station's folder, as vexora --station takes it: created\n"
    "                 and filled (the embedded database station.db) when it has no\n"
    "                 config.ini. Default: the folder this program is in, or\n"
    "                 ~/vexora-station for an installed program. The older form\n"
    "                 names an existing folder first.\n"
    "  ANSWER         what the operator types in the station's input box: 1 (the\n"
    "                 default) for whole lines, \",2\" for the second comma-separated\n"
    "                 field, a separator and a column in general\n"
    "  TABLE          a15 (the default, the labels scanned against) or a14 (the\n"
    "                 staging table)\n"
    "  --version      the version\n"
    "  -h, --help     this text\n"
    "\n"
    "Exit status: 0 imported (duplicate texts are reported), 1 the import failed,\n"
    "2 wrong command line.\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "vexora-import: %s\n%s(see --help)\n", what.c_str(), kUsageLine);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string station;
    bool stationGiven = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("vexora-import %s\n", VEXORA_VERSION);
            return 0;
        } else if (a == "--station") {
            if (i + 1 >= argc || !*argv[i + 1])
                return usageError("--station needs a folder");
            station = argv[++i];
            stationGiven = true;
        } else if (a.size() > 1 && a[0] == '-' &&
                   (a[1] == '-' || std::isalpha(static_cast<unsigned char>(a[1])))) {
            // An ANSWER may begin with '-' as its separator, but not with
            // '-' and a letter: that is an option.
            return usageError("unknown option " + a);
        } else {
            args.push_back(a);
        }
    }
    // The older form: a folder before the file.
    settings::StationPlace place;
    if (!stationGiven && args.size() >= 2 && data::platform::isFolder(args[0])) {
        place.folder = args[0];
        if (!data::isSeparator(place.folder.back()))
            place.folder += '/';
        place.ownFolder = true; // taken as it is
        args.erase(args.begin());
    } else {
        place = settings::locateStation(data::executableFolder(), station);
    }
    if (args.empty())
        return usageError("no file given");
    if (args.size() > 3)
        return usageError("unexpected argument " + args[3]);
    const std::string file = args[0], answer = args.size() > 1 ? args[1] : "1",
                      table = args.size() > 2 ? args[2] : "a15";
    const auto rule = data::parseImportAnswer(answer);
    if (!rule)
        return usageError("nothing to do for answer \"" + answer + "\"");
    try {
        settings::prepareStationFolder(place);
        data::Connection db;
        db.setBaseFolder(place.folder);
        db.setConnectionString(
            data::buildConnectionString(settings::StationSettings(place.folder).database()));
        db.open();
        data::Query q(db);
        const auto st = data::RecordTable::importStatements(db.dialect(), table);
        const auto r = data::importTextFile(db, q, file, st, *rule);
        switch (r.outcome) {
        case data::ImportResult::Outcome::Imported:
            std::printf("数据导入成功! %lld records in %s\n", r.lines, table.c_str());
            return 0;
        case data::ImportResult::Outcome::Duplicates:
            std::printf("数据导入成功! %lld records in %s\n数据有重复\n", r.lines, table.c_str());
            return 0;
        case data::ImportResult::Outcome::Failed:
            std::fprintf(stderr, "导入出错. after %lld records: %s\n", r.lines, r.error.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 1;
}
