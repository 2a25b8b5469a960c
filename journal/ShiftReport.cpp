#include "journal/ShiftReport.h"

#include "data/RecordTable.h"

#include <algorithm>
#include <deque>
#include <thread>
#include <unordered_map>

namespace vx::journal {
namespace {

constexpr std::int64_t kHourMs = 3'600'000;
// Without the label database a printed range is taken number by number; a
// range typed far beyond any real table is not walked to its end.
constexpr std::int64_t kMaxNumbersWithoutRecords = 1'000'000;

std::int64_t utcHourStart(std::int64_t t) {
    return t - ((t % kHourMs) + kHourMs) % kHourMs;
}

// Values with how often each occurs, ascending. A dense count where the
// values lie close together (record numbers do), a sort otherwise.
std::vector<std::pair<std::int64_t, std::int64_t>> tally(std::vector<std::int64_t>& v) {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    if (v.empty())
        return out;
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    const std::int64_t min = *lo, span = *hi - *lo + 1;
    if (span > 0 && span <= 4 * static_cast<std::int64_t>(v.size()) + 4096) {
        std::vector<std::uint32_t> counts(static_cast<std::size_t>(span));
        for (std::int64_t x : v)
            ++counts[static_cast<std::size_t>(x - min)];
        for (std::size_t i = 0; i < counts.size(); ++i)
            if (counts[i])
                out.emplace_back(min + static_cast<std::int64_t>(i), counts[i]);
        return out;
    }
    std::sort(v.begin(), v.end());
    for (std::size_t i = 0; i < v.size();) {
        std::size_t j = i;
        while (j < v.size() && v[j] == v[i])
            ++j;
        out.emplace_back(v[i], static_cast<std::int64_t>(j - i));
        i = j;
    }
    return out;
}

// Sorted, disjoint, non-adjacent ranges.
std::vector<std::pair<std::int64_t, std::int64_t>>
merge(std::vector<std::pair<std::int64_t, std::int64_t>> r) {
    std::sort(r.begin(), r.end());
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    for (const auto& x : r) {
        if (!out.empty() && x.first <= out.back().second + 1)
            out.back().second = std::max(out.back().second, x.second);
        else
            out.push_back(x);
    }
    return out;
}

bool inRanges(const std::vector<std::pair<std::int64_t, std::int64_t>>& ranges, std::int64_t n) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), std::make_pair(n, INT64_MAX));
    return it != ranges.begin() && std::prev(it)->second >= n;
}

bool contains(const std::vector<std::pair<std::int64_t, std::int64_t>>& tallied, std::int64_t n) {
    auto it = std::lower_bound(tallied.begin(), tallied.end(), std::make_pair(n, INT64_MIN));
    return it != tallied.end() && it->first == n;
}

} // namespace

void A15Records::forEachRecord(const std::function<void(std::int64_t, const std::string&)>& fn) {
    data::Query q(m_db);
    q.setText(data::RecordTable::allRecords(m_db.dialect()));
    q.open();
    for (; !q.eof(); q.next())
        fn(q.field(0).asInt(), q.field(1).asText());
}

namespace {

// What one pass over a part of the journal gathers; parts are merged in
// the order of their ids.
struct Pass {
    std::function<std::int64_t(std::int64_t)> hourStart;
    std::int64_t events = 0, scans = 0;
    // Verdict counts by name; a line's scans are mostly of one verdict.
    std::vector<std::pair<std::string, std::int64_t>> verdicts;
    std::size_t lastVerdict = 0;
    std::optional<std::int64_t> firstScan, lastScan;
    std::optional<std::pair<std::int64_t, std::int64_t>> longestPause;
    std::vector<std::pair<std::int64_t, std::int64_t>> goodPerHour;
    std::int64_t bucket = 0, bucketEnd = 0, bucketCount = 0;
    std::vector<std::int64_t> found, verified;
    std::vector<journal::JournalRow> prints, stationEvents;

    void countVerdict(const std::string& what, std::int64_t n = 1) {
        if (lastVerdict < verdicts.size() && verdicts[lastVerdict].first == what) {
            verdicts[lastVerdict].second += n;
            return;
        }
        for (lastVerdict = 0; lastVerdict < verdicts.size(); ++lastVerdict)
            if (verdicts[lastVerdict].first == what) {
                verdicts[lastVerdict].second += n;
                return;
            }
        verdicts.emplace_back(what, n);
    }

    void pause(std::int64_t from, std::int64_t to) {
        if (to > from && (!longestPause || to - from > longestPause->second - longestPause->first))
            longestPause = std::make_pair(from, to);
    }

    void take(const journal::JournalRow& row) {
        ++events;
        if (row.kind == journal::JournalWords::Scan) {
            ++scans;
            countVerdict(row.what);
            if (lastScan)
                pause(*lastScan, row.time);
            else
                firstScan = row.time;
            lastScan = row.time;
            if (!row.record)
                return;
            found.push_back(*row.record);
            if (!journal::verifiedGood(row.what))
                return;
            verified.push_back(*row.record);
            if (row.time < bucket || row.time >= bucketEnd) {
                if (bucketCount)
                    goodPerHour.emplace_back(bucket, bucketCount);
                bucket = hourStart(row.time);
                bucketEnd = bucket + kHourMs;
                bucketCount = 0;
            }
            ++bucketCount;
        } else if (row.kind == journal::JournalWords::Print) {
            prints.push_back(row);
        } else {
            stationEvents.push_back(row);
        }
    }

    void finish() {
        if (bucketCount)
            goodPerHour.emplace_back(bucket, bucketCount);
        bucketCount = 0;
    }

    // Adds the part that follows this one.
    void append(Pass&& next) {
        events += next.events;
        scans += next.scans;
        for (const auto& [what, n] : next.verdicts)
            countVerdict(what, n);
        if (lastScan && next.firstScan)
            pause(*lastScan, *next.firstScan);
        if (next.longestPause)
            pause(next.longestPause->first, next.longestPause->second);
        if (!firstScan)
            firstScan = next.firstScan;
        if (next.lastScan)
            lastScan = next.lastScan;
        auto move = [](auto& to, auto& from) {
            to.insert(to.end(), std::make_move_iterator(from.begin()),
                      std::make_move_iterator(from.end()));
            from = {};
        };
        move(goodPerHour, next.goodPerHour);
        move(found, next.found);
        move(verified, next.verified);
        move(prints, next.prints);
        move(stationEvents, next.stationEvents);
    }
};

bool isOutcome(const std::string& what) {
    using namespace journal::JournalWords;
    return what == Printed || what == Failed || what == Cancelled || what == Queued;
}

void takeOutcome(ReportJob& job, const journal::JournalRow& row) {
    job.outcome = row.what;
    job.backend = row.backend;
    job.labels = row.labels;
    job.reason = row.message;
    // The record of the last label taken, where the printer took some
    // before the job failed or was cancelled.
    const bool ended =
        row.what == journal::JournalWords::Failed || row.what == journal::JournalWords::Cancelled;
    if (ended && row.record && row.labels && *row.labels > 0 && *row.record >= job.low)
        job.lastPrinted = std::min(*row.record, job.high);
}

// The print rows of the shift as jobs in three sets. The worker runs the
// jobs one after the other in the order they were handed on, so an outcome
// belongs to the oldest dispatch of its range still waiting for one; one
// that has none (handed on before the shift, or a job that could not
// start) stands for a job of its own. Dispatches still waiting at the end
// of the shift are looked for in what follows it.
void sortJobs(ShiftReport& r, journal::JournalReader& journal,
              const journal::JournalFilter& shift) {
    using namespace journal::JournalWords;
    std::vector<ReportJob> jobs;
    std::deque<std::size_t> waiting; // direct dispatches, oldest first
    auto take = [&](const journal::JournalRow& row, bool inShift) {
        if (!row.low || !row.high || *row.low > *row.high)
            return; // a reversed range selects nothing
        if (row.what == Dispatched && inShift) {
            ReportJob job;
            job.time = row.time;
            job.low = *row.low;
            job.high = *row.high;
            job.mode = row.backend;
            if (row.backend != "manual")
                waiting.push_back(jobs.size());
            jobs.push_back(std::move(job));
            return;
        }
        if (!isOutcome(row.what))
            return;
        for (auto it = waiting.begin(); it != waiting.end(); ++it) {
            ReportJob& job = jobs[*it];
            if (job.low == *row.low && job.high == *row.high) {
                takeOutcome(job, row);
                waiting.erase(it);
                return;
            }
        }
        if (!inShift)
            return;
        ReportJob job;
        job.time = row.time;
        job.low = *row.low;
        job.high = *row.high;
        takeOutcome(job, row);
        jobs.push_back(std::move(job));
    };
    for (const auto& row : r.prints)
        take(row, true);
    if (!waiting.empty() && shift.to && *shift.to < INT64_MAX) {
        journal::JournalFilter after;
        after.from = *shift.to + 1;
        after.kind = Print;
        journal.forEach(after, journal::JournalReader::Order::Time,
                        [&](const journal::JournalRow& row) {
                            take(row, false);
                            return !waiting.empty();
                        });
    }
    for (ReportJob& job : jobs) {
        if (job.mode == "manual" || job.outcome == Printed)
            r.printedJobs.push_back(std::move(job));
        else if (job.outcome.empty())
            r.unfinishedJobs.push_back(std::move(job));
        else
            r.notPrintedJobs.push_back(std::move(job));
    }
}

} // namespace

ShiftReport makeShiftReport(journal::JournalReader& journal, std::int64_t from, std::int64_t to,
                            RecordSide* records, const ReportOptions& options) {
    ShiftReport r;
    r.from = from;
    r.to = to;
    const auto hourStart = options.hourStart ? options.hourStart : utcHourStart;

    journal::JournalFilter filter;
    filter.from = from;
    filter.to = to;
    filter.leanKind = journal::JournalWords::Scan;

    // The journal in parts read side by side, each on a connection of its
    // own; rows appended meanwhile lie beyond the last part and are left out.
    const std::int64_t top = journal.highestId();
    const int parts = options.parts > 0 ? options.parts
                      : top > 200'000   ? std::max(1, options.threads)
                                        : 1;
    std::vector<Pass> passes(static_cast<std::size_t>(parts));
    std::vector<std::string> errors(passes.size());
    auto run = [&](std::size_t i, journal::JournalReader& reader) {
        Pass& p = passes[i];
        p.hourStart = hourStart;
        journal::JournalFilter f = filter;
        f.firstId = top / parts * static_cast<std::int64_t>(i) + 1;
        f.lastId = i + 1 == passes.size() ? top : top / parts * static_cast<std::int64_t>(i + 1);
        try {
            reader.forEach(
                f, journal::JournalReader::Order::Appended,
                [&](const journal::JournalRow& row) {
                    p.take(row);
                    return true;
                },
                [&](std::int64_t id, std::int64_t) {
                    if (options.progress && i + 1 == passes.size())
                        options.progress("journal", id, top);
                });
        } catch (const std::exception& e) {
            errors[i] = e.what();
        }
        p.finish();
    };
    {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i + 1 < passes.size(); ++i)
            threads.emplace_back([&, i] {
                try {
                    journal::JournalReader own(journal.path());
                    run(i, own);
                } catch (const std::exception& e) {
                    errors[i] = e.what();
                }
            });
        run(passes.size() - 1, journal);
        for (auto& t : threads)
            t.join();
    }
    for (const std::string& e : errors)
        if (!e.empty())
            throw data::DbError(e);
    for (std::size_t i = 1; i < passes.size(); ++i)
        passes[0].append(std::move(passes[i]));
    Pass& all = passes[0];

    r.events = all.events;
    r.scans = all.scans;
    for (const auto& [what, n] : all.verdicts)
        r.scansByVerdict[what] = n;
    r.longestPause = all.longestPause;
    r.prints = std::move(all.prints);
    r.stationEvents = std::move(all.stationEvents);
    // Hours met twice (parts, rows out of time order) are added up.
    std::sort(all.goodPerHour.begin(), all.goodPerHour.end());
    for (const auto& h : all.goodPerHour) {
        if (!r.goodPerHour.empty() && r.goodPerHour.back().first == h.first)
            r.goodPerHour.back().second += h.second;
        else
            r.goodPerHour.push_back(h);
    }
    auto& found = all.found;
    auto& verified = all.verified;

    sortJobs(r, journal, filter);
    std::vector<std::pair<std::int64_t, std::int64_t>> printed;
    for (const ReportJob& j : r.printedJobs)
        printed.emplace_back(j.low, j.high);
    for (const ReportJob& j : r.notPrintedJobs)
        if (j.lastPrinted)
            printed.emplace_back(j.low, *j.lastPrinted);
    const auto ranges = merge(std::move(printed));
    const auto scannedTimes = tally(found);
    const auto verifiedTimes = tally(verified);
    for (const auto& [record, times] : verifiedTimes)
        if (!r.verifiedRanges.empty() && r.verifiedRanges.back().second + 1 == record)
            r.verifiedRanges.back().second = record;
        else
            r.verifiedRanges.emplace_back(record, record);
    found = {};
    verified = {};

    for (const auto& [record, times] : scannedTimes)
        if (times > 1)
            r.scannedMoreThanOnce.push_back({record, {}, times});
    for (const auto& [record, times] : verifiedTimes)
        if (!inRanges(ranges, record))
            r.verifiedNotPrinted.push_back({record, {}, times});

    // The record side: which records the printed ranges hold, and the code
    // texts of every record named.
    std::unordered_map<std::int64_t, std::string*> wanted;
    for (auto* list : {&r.scannedMoreThanOnce, &r.verifiedNotPrinted})
        for (auto& rec : *list)
            wanted.emplace(rec.record, &rec.code);
    if (records) {
        try {
            std::int64_t n = 0;
            records->forEachRecord([&](std::int64_t bh, const std::string& tt) {
                if (inRanges(ranges, bh) && !contains(verifiedTimes, bh))
                    r.printedNotVerified.push_back({bh, tt, 0});
                if (auto it = wanted.find(bh); it != wanted.end())
                    *it->second = tt;
                if (options.progress && ++n % 1'000'000 == 0)
                    options.progress("records", n, 0);
            });
            r.recordsRead = true;
        } catch (const std::exception& e) {
            r.printedNotVerified.clear();
            r.recordsError = e.what();
        }
    }
    if (!r.recordsRead) {
        std::int64_t walked = 0;
        for (const auto& [lo, hi] : ranges)
            for (std::int64_t n = lo; n <= hi && walked < kMaxNumbersWithoutRecords; ++n, ++walked)
                if (!contains(verifiedTimes, n))
                    r.printedNotVerified.push_back({n, {}, 0});
    }
    std::sort(r.printedNotVerified.begin(), r.printedNotVerified.end(),
              [](const ReportRecord& a, const ReportRecord& b) { return a.record < b.record; });

    // Codes the label database does not hold (re-imported since, or not
    // read) are taken as they were scanned.
    for (auto it = wanted.begin(); it != wanted.end();)
        it = it->second->empty() ? std::next(it) : wanted.erase(it);
    if (!wanted.empty()) {
        journal::JournalFilter scans = filter;
        scans.kind = journal::JournalWords::Scan;
        scans.leanKind.clear();
        journal.forEach(scans, journal::JournalReader::Order::Appended,
                        [&](const journal::JournalRow& row) {
                            if (row.record && row.code)
                                if (auto it = wanted.find(*row.record); it != wanted.end()) {
                                    *it->second = *row.code;
                                    wanted.erase(it);
                                }
                            return !wanted.empty();
                        });
    }
    return r;
}

} // namespace vx::journal
