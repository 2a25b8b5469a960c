#pragma once

#include "data/Database.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vx::scan {

// The check boxes the engine reads, as the operator left them.
struct ScanSwitches {
    bool chk_start = false;   // 开启对比: comparison on
    bool CheckBox1 = true;    // ignore an immediate repeat of the same label
    bool CheckBox3 = true;    // announce the last digit of the record number
    bool chk_quejing = false; // skip the missing-range test
};

enum class Verdict {
    NotCompared, // comparison off: the scan is only shown
    NoDatabase,  // comparison on but the database is closed: no verdict
    WrongLength,
    NotFound,
    IgnoredRepeat,
    Duplicate,
    MissingRange, // the record is still marked as scanned
    Good,
    DatabaseFailure, // the lookup or the mark failed: nothing was recorded
};

// What one scan changes on the window. Lists get the entry appended when set.
struct ScanOutcome {
    Verdict verdict = Verdict::NotCompared;
    std::string edit_rec;    // the scan text
    std::string edit_recstr; // the code field
    std::string Label14;     // the verdict text
    std::optional<std::string> Lb_cuo, LB_chong, LB_shao, LB_rec;
    std::optional<char> announceDigit; // last digit of the record number
    std::string flashTarget;           // "label9", "label10", "label11" or none
    bool alarm = false;
    bool bringToFront = false;
    bool counted = false; // both scan counters grow by one
    // The database connection was found unusable (its file deleted or
    // replaced, the server gone) and has been closed: the window must show
    // it closed and ask the operator to connect again.
    bool databaseLost = false;
    // For the journal: the record the lookup found, the missing numbers as
    // numbers, and the database's own message when it failed.
    std::optional<std::int64_t> record;
    std::optional<std::pair<std::int64_t, std::int64_t>> missing;
    std::string error;
};

// Verdict texts.
inline constexpr const char* kWrongCodeText = "扫到的码有问题！";
inline constexpr const char* kNotFoundText = "数据库中查不到";
inline constexpr const char* kDuplicateSuffix = "重复";
// Shown when the database fails during a scan: the label was not recorded,
// so it must not pass as good.
inline constexpr const char* kDatabaseFailureText = "数据库出错，本次扫描未记录！";
// Shown when the connection itself is gone: nothing can be recorded until
// the operator connects again.
inline constexpr const char* kDatabaseLostText =
    "数据库连接已失效，本次扫描未记录！请重新连接数据库";

// The scan verification engine: cuts the code field out of a scan, looks it
// up in a15 and gives exactly one verdict; a good scan marks its record.
// It holds the in-memory settings and the last scanned number.
class ScanEngine {
public:
    ScanEngine(data::Connection& ADO1, data::Query& ADOQuery1);

    // In-memory settings, as read from or saved to config.ini.
    std::string strstart = "1";
    std::string strnum = "0"; // "0": whole-text mode until the first scan
    std::int32_t columnCount = 1;
    // Decimal text of the record last marked or reported as a duplicate.
    std::string lastScanned = "0";

    ScanOutcome com31RxChar(std::string_view scanText, const ScanSwitches& switches);

    // Cuts the field: from the 1-based position start (below 1 counts as 1),
    // at most length bytes.
    static std::string cutField(std::string_view text, std::int64_t start, std::int64_t length);

private:
    void lookUp(ScanOutcome& out, const std::string& field, const ScanSwitches& sw);
    void duplicate(ScanOutcome& out, const std::string& record);

    data::Connection& m_db;
    data::Query& m_query;
};

} // namespace vx::scan
