// Imports a label text file into a station's database the way the station's
// "文本数据导入" button does (whole lines, or one column of separated lines),
// without the window: for setting up stations and demos.
//
//   vexora-import STATION_FOLDER FILE [ANSWER] [TABLE]
//
// The database is the one named in STATION_FOLDER/config.ini. ANSWER is what
// the operator would type in the input box ("1" for whole lines, ",2" for the
// second comma-separated field); TABLE is a15 (default) or a14.

#include "data/ConnectionString.h"
#include "data/RecordTable.h"
#include "data/TextImport.h"
#include "settings/StationSettings.h"

#include <cstdio>
#include <string>

using namespace vx;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vexora-import STATION_FOLDER FILE [ANSWER] [TABLE]\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.back() != '/' && folder.back() != '\\')
        folder += '/';
    const std::string file = argv[2], answer = argc > 3 ? argv[3] : "1",
                      table = argc > 4 ? argv[4] : "a15";
    const auto rule = data::parseImportAnswer(answer);
    if (!rule) {
        std::fprintf(stderr, "nothing to do for answer \"%s\"\n", answer.c_str());
        return 2;
    }
    try {
        data::Connection db;
        db.setBaseFolder(folder);
        db.setConnectionString(
            data::buildConnectionString(settings::StationSettings(folder).database()));
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
