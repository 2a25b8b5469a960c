#include "scan/ScanEngine.h"

#include "data/RecordTable.h"

namespace vx::scan {

ScanEngine::ScanEngine(data::Connection& ADO1, data::Query& ADOQuery1)
    : m_db(ADO1), m_query(ADOQuery1) {}

std::string ScanEngine::cutField(std::string_view text, std::int64_t start, std::int64_t length) {
    if (start < 1)
        start = 1;
    if (length <= 0 || start > static_cast<std::int64_t>(text.size()))
        return {};
    return std::string(
        text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length)));
}

ScanOutcome ScanEngine::com31RxChar(std::string_view scanText, const ScanSwitches& sw) {
    ScanOutcome out;
    out.edit_rec = std::string(scanText);

    // A wrong code: its list entry, the alarm, its caption blinking and the
    // station to the front.
    auto wrongCode = [&](Verdict v, const char* label, std::string entry) {
        out.verdict = v;
        out.Label14 = label;
        out.Lb_cuo = std::move(entry);
        out.flashTarget = "label9";
        out.alarm = true;
        out.bringToFront = true;
    };

    std::string field;
    bool settingsValid = true;
    if (strnum != "0") {
        const auto start = data::parseInteger(strstart);
        const auto length = data::parseInteger(strnum);
        settingsValid = start && length;
        if (settingsValid)
            field = cutField(scanText, *start, *length);
    } else {
        field = out.edit_rec;
        strnum = std::to_string(scanText.size());
    }
    out.edit_recstr = field;
    out.Label14.clear();

    if (!sw.chk_start)
        return out;

    // Settings that are not whole numbers cannot cut a field: the scan is a
    // wrong code, and the next scan is handled as usual.
    const auto expectedLength = data::parseInteger(strnum);
    if (!settingsValid || !expectedLength ||
        static_cast<std::int64_t>(field.size()) != *expectedLength) {
        wrongCode(Verdict::WrongLength, kWrongCodeText, out.edit_rec);
        return out;
    }

    if (!m_db.connected()) {
        out.verdict = Verdict::NoDatabase;
        return out;
    }

    // The journal keeps the record the lookup had found and the database's
    // own words.
    auto failed = [&](const char* text, const std::exception& e) {
        m_query.close();
        const auto record = out.record;
        out = ScanOutcome{};
        out.edit_rec = std::string(scanText);
        out.edit_recstr = field;
        out.record = record;
        out.error = e.what();
        wrongCode(Verdict::DatabaseFailure, text, out.edit_rec);
    };
    try {
        lookUp(out, field, sw);
    } catch (const data::DbConnectionLost& e) {
        failed(kDatabaseLostText, e);
        // Nothing more may go through it; the operator reconnects.
        m_db.close();
        out.databaseLost = true;
    } catch (const std::exception& e) {
        failed(kDatabaseFailureText, e);
    }
    return out;
}

void ScanEngine::lookUp(ScanOutcome& out, const std::string& field, const ScanSwitches& sw) {
    const data::Dialect d = m_db.dialect();
    m_query.open({data::RecordTable::lookupQuery(d)}, {{"mm", field}});
    if (m_query.isEmpty()) {
        out.verdict = Verdict::NotFound;
        out.Label14 = kNotFoundText;
        out.Lb_cuo = field;
        out.flashTarget = "label9";
        out.alarm = true;
        out.bringToFront = true;
        return;
    }
    // Several records may share a text: the first row decides.
    const std::int64_t bh = m_query.fieldByName("bh").asInt();
    const bool scanned = m_query.fieldByName("prned").asInt() != 0;
    const std::string record = std::to_string(bh);
    const std::int64_t last = data::parseInteger(lastScanned).value_or(0);

    out.Label14 = record;
    out.record = bh;
    if (sw.CheckBox3)
        out.announceDigit = record.back();

    m_query.close();
    if (scanned) {
        if (sw.CheckBox1 && bh == last)
            out.verdict = Verdict::IgnoredRepeat;
        else
            duplicate(out, record);
        out.LB_rec = record;
        return;
    }

    out.verdict = Verdict::Good;
    if (!sw.chk_quejing) {
        const std::int64_t expected = last + columnCount;
        if (bh != expected) {
            out.verdict = Verdict::MissingRange;
            out.LB_shao = std::to_string(expected) + "-" + std::to_string(bh - columnCount);
            out.missing = std::make_pair(expected, bh - columnCount);
            out.flashTarget = "label11";
            out.alarm = true;
            out.bringToFront = true;
        }
    }
    // Another station may have marked the record since the lookup: then
    // the mark changes nothing and this scan is a duplicate after all. A
    // mark whose count the database does not tell (-1) cannot be known to
    // have been recorded.
    const long long marked = m_query.execute({data::RecordTable::markScanned(d, record)});
    if (marked < 0)
        throw data::DbError("The database did not say whether record " + record +
                            " was marked as scanned");
    if (marked == 0) {
        out.LB_shao.reset();
        out.missing.reset();
        duplicate(out, record);
        out.LB_rec = record;
        return;
    }
    lastScanned = record;
    out.counted = true;
    out.LB_rec = record;
}

void ScanEngine::duplicate(ScanOutcome& out, const std::string& record) {
    out.verdict = Verdict::Duplicate;
    out.Label14 = record + kDuplicateSuffix;
    out.LB_chong = record;
    out.flashTarget = "label10";
    out.counted = true;
    out.alarm = true;
    out.bringToFront = true;
    lastScanned = record;
}

} // namespace vx::scan
