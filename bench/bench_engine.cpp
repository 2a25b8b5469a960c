// The whole scan engine (cut, lookup, verdict, mark) for 100,000 scans against
// a 1,000,000-record a15, in a mix of verdicts, beside the raw prepared
// lookup-and-update of the same number of codes on the same file. The same
// scans also go to a second station on a copy of the file that writes its
// journal, each row hashed on the chain, and to a third whose journal keeps
// no chain (as it was before the chain), the three taking turns scan by
// scan, so the journal's cost, and the chain's, is measured beside their
// absence in the same run; and the journal's append itself is timed on the
// rows those scans make, with and without the chain.

#include "bench/BenchTable.h"
#include "journal/Journal.h"
#include "scan/ScanJournal.h"
#include "scan/ScanStation.h"

#include <filesystem>
#include <random>

using namespace vx;

namespace {
struct Silent : scan::SoundPlayer {
    void play(const std::string&) override {}
};
struct NoWindow : scan::WindowActivator {
    void bringToFront() override {}
};
} // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "bench_engine.db";
    const int records = 1'000'000, scans = argc > 2 ? std::atoi(argv[2]) : 100'000;
    bench::removeDatabase(path);

    data::Connection db;
    db.openWith(data::openSqliteBackend(path));
    bench::fillA15(db, records);
    // The journalling station's own copy of the same table.
    db.close();
    const std::string copy = path + ".journalled", journalPath = path + ".journal";
    const std::string copyU = path + ".unchained", journalPathU = path + ".journal-unchained";
    for (const auto& p : {copy, journalPath, copyU, journalPathU})
        bench::removeDatabase(p);
    std::filesystem::copy_file(path, copy);
    std::filesystem::copy_file(path, copyU);
    db.openWith(data::openSqliteBackend(path));
    data::Connection dbJ, dbU;
    dbJ.openWith(data::openSqliteBackend(copy));
    dbU.openWith(data::openSqliteBackend(copyU));

    // Mostly good scans in order, with duplicates, skips, wrong lengths and
    // unknown codes mixed in, as a line sees them.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> kind(0, 99), any(1, records);
    std::vector<std::string> texts;
    int next = 1;
    for (int i = 0; i < scans; ++i) {
        const int k = kind(rng);
        if (k < 80)
            texts.push_back(bench::labelCode(next++) + "\r\n");
        else if (k < 88)
            texts.push_back(bench::labelCode(std::max(1, next - 3)) + "\r\n"); // duplicate
        else if (k < 94)
            texts.push_back(bench::labelCode(next += 3) + "\r\n"); // missing range
        else if (k < 97)
            texts.push_back("VX12\r\n"); // wrong length
        else
            texts.push_back("ZZ" + bench::labelCode(any(rng)).substr(2) + "\r\n"); // not found
    }

    data::Query ADOQuery1(db);
    Silent sound;
    NoWindow window;
    scan::ScanStation station(db, ADOQuery1, sound, window, "./");
    station.engine.strstart = "1";
    station.engine.strnum = "12";
    scan::ScanSwitches sw;
    sw.chk_start = true;

    data::Query ADOQuery1J(dbJ);
    journal::Journal journal(journalPath);
    scan::ScanStation journalled(dbJ, ADOQuery1J, sound, window, "./");
    journalled.setJournal(&journal);
    journalled.engine.strstart = "1";
    journalled.engine.strnum = "12";

    data::Query ADOQuery1U(dbU);
    journal::Journal journalU(journalPathU, journal::utcNowMs, journal::Journal::Chain::Off);
    scan::ScanStation unchained(dbU, ADOQuery1U, sound, window, "./");
    unchained.setJournal(&journalU);
    unchained.engine.strstart = "1";
    unchained.engine.strnum = "12";

    std::vector<double> engine, withJournal, withUnchained;
    engine.reserve(texts.size());
    withJournal.reserve(texts.size());
    withUnchained.reserve(texts.size());
    std::vector<scan::ScanOutcome> outcomes;
    outcomes.reserve(texts.size());
    int verdicts[9] = {};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        // Turn about, so none always meets the caches another warmed.
        for (int turn = 0; turn < 3; ++turn) {
            const int who = static_cast<int>((turn + i) % 3);
            scan::ScanStation& s = who == 0 ? station : who == 1 ? journalled : unchained;
            std::vector<double>& times = who == 0 ? engine : who == 1 ? withJournal : withUnchained;
            auto t0 = bench::Clock::now();
            const auto out = s.com31RxChar(t, sw);
            times.push_back(bench::ms(bench::Clock::now() - t0));
            if (who == 0) {
                ++verdicts[static_cast<int>(out.verdict)];
                outcomes.push_back(out);
            }
        }
    }
    dbJ.close();
    dbU.close();
    journal.checkpoint(); // everything in the file itself, the log emptied
    journalU.checkpoint();
    const double journalBytes = static_cast<double>(std::filesystem::file_size(journalPath));
    const double journalBytesU = static_cast<double>(std::filesystem::file_size(journalPathU));

    // The append alone, on a journal of its own, for the rows the scans
    // made; the chained and the unchained journal taking turns.
    const std::string appendPath = path + ".appends", appendPathU = path + ".appends-unchained";
    bench::removeDatabase(appendPath);
    bench::removeDatabase(appendPathU);
    std::vector<double> appends, appendsU;
    appends.reserve(outcomes.size());
    appendsU.reserve(outcomes.size());
    {
        journal::Journal alone(appendPath);
        journal::Journal aloneU(appendPathU, journal::utcNowMs, journal::Journal::Chain::Off);
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            const journal::JournalEvent e = scan::scanEvent(outcomes[i]);
            for (int turn = 0; turn < 2; ++turn) {
                const bool chained = (turn == 0) == (i % 2 == 0);
                auto t0 = bench::Clock::now();
                (chained ? alone : aloneU).append(e);
                (chained ? appends : appendsU).push_back(bench::ms(bench::Clock::now() - t0));
            }
        }
    }
    bench::removeDatabase(appendPath);
    bench::removeDatabase(appendPathU);
    // Unmark everything (the clear-all of a new print run), so the baseline's
    // updates change rows and commit as the engine's did: SQLite skips the
    // write of an update that leaves a row as it was.
    data::Query clear(db);
    clear.setText(data::RecordTable::clearAllScanned(data::Dialect::Sqlite));
    clear.execute();
    db.close();

    // The baseline looks up the same code fields in the same order, so both
    // see the same locality.
    std::vector<std::string> rawCodes;
    for (const std::string& t : texts)
        rawCodes.push_back(t.substr(0, 12));
    std::vector<double> raw = bench::rawLookupMark(path, rawCodes);

    const double p50 = bench::percentile(engine, 50), p99 = bench::percentile(engine, 99);
    const double j50 = bench::percentile(withJournal, 50), j99 = bench::percentile(withJournal, 99);
    const double u50 = bench::percentile(withUnchained, 50),
                 u99 = bench::percentile(withUnchained, 99);
    const double r50 = bench::percentile(raw, 50), r99 = bench::percentile(raw, 99);
    bench::figure("engine_scan_median", p50, "ms");
    bench::figure("engine_scan_p99", p99, "ms");
    bench::figure("raw_lookup_mark_median", r50, "ms");
    bench::figure("raw_lookup_mark_p99", r99, "ms");
    bench::figure("ratio_p99_vs_raw", p99 / r99, "x");
    bench::figure("engine_scan_median_with_journal", j50, "ms");
    bench::figure("engine_scan_p99_with_journal", j99, "ms");
    bench::figure("journal_overhead_median", j50 - p50, "ms");
    bench::figure("journal_overhead_p99", j99 - p99, "ms");
    bench::figure("engine_scan_median_with_unchained_journal", u50, "ms");
    bench::figure("engine_scan_p99_with_unchained_journal", u99, "ms");
    bench::figure("unchained_journal_overhead_median", u50 - p50, "ms");
    bench::figure("unchained_journal_overhead_p99", u99 - p99, "ms");
    bench::figure("journal_append_median", bench::percentile(appends, 50), "ms");
    bench::figure("journal_append_p99", bench::percentile(appends, 99), "ms");
    bench::figure("journal_append_p999", bench::percentile(appends, 99.9), "ms");
    bench::figure("journal_append_max", bench::percentile(appends, 100), "ms");
    bench::figure("unchained_journal_append_median", bench::percentile(appendsU, 50), "ms");
    bench::figure("unchained_journal_append_p99", bench::percentile(appendsU, 99), "ms");
    bench::figure("unchained_journal_append_p999", bench::percentile(appendsU, 99.9), "ms");
    bench::figure("journal_bytes_per_scan", journalBytes / static_cast<double>(texts.size()),
                  "bytes");
    bench::figure("unchained_journal_bytes_per_scan",
                  journalBytesU / static_cast<double>(texts.size()), "bytes");
    bench::figure("good_scans", verdicts[static_cast<int>(scan::Verdict::Good)], "scans");
    bench::figure("duplicate_scans", verdicts[static_cast<int>(scan::Verdict::Duplicate)], "scans");
    bench::figure("missing_range_scans", verdicts[static_cast<int>(scan::Verdict::MissingRange)],
                  "scans");
    bench::figure("wrong_length_scans", verdicts[static_cast<int>(scan::Verdict::WrongLength)],
                  "scans");
    bench::figure("not_found_scans", verdicts[static_cast<int>(scan::Verdict::NotFound)], "scans");
    bench::removeDatabase(path);
    for (const auto& p : {copy, journalPath, copyU, journalPathU})
        bench::removeDatabase(p);
    return 0;
}
