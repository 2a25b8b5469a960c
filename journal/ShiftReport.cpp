#include "journal/ShiftReport.h"

#include "data/RecordTable.h"

#include <algorithm>
#include <deque>
#include <thread>
#include <tuple>
#include <unordered_map>

namespace vx::journal {

RecordRanges mergeRanges(RecordRanges ranges) {
    std::sort(ranges.begin(), ranges.end());
    RecordRanges out;
    for (const auto& [lo, hi] : ranges) {
        if (lo > hi)
            continue;
        if (!out.empty() && lo <= out.back().second + 1)
            out.back().second = std::max(out.back().second, hi);
        else
            out.emplace_back(lo, hi);
    }
    return out;
}

RecordRanges coveredTwice(const RecordRanges& ranges) {
    // A sweep over the ranges' ends: +1 where one starts, -1 after it ends.
    std::vector<std::pair<std::int64_t, int>> edges;
    for (const auto& [lo, hi] : ranges)
        if (lo <= hi) {
            edges.emplace_back(lo, 1);
            edges.emplace_back(hi + 1, -1);
        }
    std::sort(edges.begin(), edges.end());
    RecordRanges out;
    int depth = 0;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        depth += edges[i].second;
        const bool last = i + 1 == edges.size() || edges[i + 1].first != edges[i].first;
        if (last && depth >= 2 && i + 1 < edges.size())
            out.emplace_back(edges[i].first, edges[i + 1].first - 1);
    }
    return mergeRanges(std::move(out));
}

RecordRanges recordRanges(const std::vector<ReportRecord>& records) {
    RecordRanges r;
    r.reserve(records.size());
    for (const auto& rec : records)
        r.emplace_back(rec.record, rec.record);
    return mergeRanges(std::move(r));
}

std::string rangesText(const RecordRanges& ranges) {
    std::string out;
    for (const auto& [lo, hi] : ranges) {
        if (!out.empty())
            out += ", ";
        out += std::to_string(lo);
        if (hi != lo)
            out += "-" + std::to_string(hi);
    }
    return out;
}

std::int64_t rangesCount(const RecordRanges& ranges) {
    std::int64_t n = 0;
    for (const auto& [lo, hi] : ranges)
        n += hi - lo + 1;
    return n;
}
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

bool inRanges(const std::vector<std::pair<std::int64_t, std::int64_t>>& ranges, std::int64_t n) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), std::make_pair(n, INT64_MAX));
    return it != ranges.begin() && std::prev(it)->second >= n;
}

bool contains(const std::vector<std::pair<std::int64_t, std::int64_t>>& tallied, std::int64_t n) {
    auto it = std::lower_bound(tallied.begin(), tallied.end(), std::make_pair(n, INT64_MIN));
    return it != tallied.end() && it->first == n;
}

// The numbers of a tally as ranges.
RecordRanges rangesOf(const std::vector<std::pair<std::int64_t, std::int64_t>>& tallied) {
    RecordRanges out;
    for (const auto& [n, times] : tallied) {
        if (!out.empty() && out.back().second + 1 == n)
            out.back().second = n;
        else
            out.emplace_back(n, n);
    }
    return out;
}

// An import that replaced a15: a new batch of labels begins with its row.
bool startsBatch(const journal::JournalRow& row) {
    return row.kind == journal::JournalWords::Data && row.what == journal::JournalWords::Imported &&
           row.backend == "a15";
}

ReportBatch batchOf(const journal::JournalRow& import) {
    ReportBatch b;
    b.imported = import.time;
    b.source = import.subject;
    b.records = import.labels;
    return b;
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
    // Where each new batch begins in found and verified.
    struct Cut {
        std::size_t found, verified;
    };
    std::vector<Cut> cuts;

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
        } else if (row.kind == journal::JournalWords::Print ||
                   row.kind == journal::JournalWords::Reprint) {
            prints.push_back(row);
        } else {
            if (startsBatch(row))
                cuts.push_back({found.size(), verified.size()});
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
        for (const Cut& c : next.cuts)
            cuts.push_back({c.found + found.size(), c.verified + verified.size()});
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
// belongs to the oldest dispatch of its range and kind (a first print or a
// reprint) still waiting for one; one that has none (handed on before the
// shift, or a job that could not start) stands for a job of its own.
// Dispatches still waiting at the end of the shift are looked for in what
// follows it. batchOf: the batch a row of the shift falls in, by its id.
void sortJobs(ShiftReport& r, journal::JournalReader& journal, const journal::JournalFilter& shift,
              const std::function<std::size_t(std::int64_t)>& batchAt) {
    using namespace journal::JournalWords;
    std::vector<ReportJob> jobs;
    std::deque<std::size_t> waiting; // direct dispatches, oldest first
    auto take = [&](const journal::JournalRow& row, bool inShift) {
        if (row.kind != Print && row.kind != Reprint)
            return;
        if (!row.low || !row.high || *row.low > *row.high)
            return; // a reversed range selects nothing
        const bool reprint = row.kind == Reprint;
        if (row.what == Dispatched && inShift) {
            ReportJob job;
            job.time = row.time;
            job.low = *row.low;
            job.high = *row.high;
            job.mode = row.backend;
            if (reprint)
                job.reprint = row.message.empty() ? std::string("unknown") : row.message;
            job.batch = batchAt(row.id);
            if (row.backend != "manual")
                waiting.push_back(jobs.size());
            jobs.push_back(std::move(job));
            return;
        }
        if (!isOutcome(row.what))
            return;
        for (auto it = waiting.begin(); it != waiting.end(); ++it) {
            ReportJob& job = jobs[*it];
            if (job.low == *row.low && job.high == *row.high && job.reprint.empty() != reprint) {
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
        if (reprint)
            job.reprint = "unknown"; // its dispatch, with the reason, came before the shift
        job.batch = batchAt(row.id);
        takeOutcome(job, row);
        jobs.push_back(std::move(job));
    };
    for (const auto& row : r.prints)
        take(row, true);
    // An outcome only ever matches a dispatch of its own kind: each kind is
    // read on its own, as long as a dispatch of that kind waits.
    for (const char* kind : {Print, Reprint}) {
        const bool ofKind = kind == Reprint;
        auto waits = [&] {
            return std::any_of(waiting.begin(), waiting.end(),
                               [&](std::size_t i) { return jobs[i].reprint.empty() != ofKind; });
        };
        if (!waits() || !shift.to || *shift.to == INT64_MAX)
            continue;
        journal::JournalFilter after;
        after.from = *shift.to + 1;
        after.kind = kind;
        journal.forEach(after, journal::JournalReader::Order::Time,
                        [&](const journal::JournalRow& row) {
                            take(row, false);
                            return waits();
                        });
    }
    for (ReportJob& job : jobs) {
        if (!job.reprint.empty()) {
            ReprintCount& c = r.reprintsByReason[job.reprint];
            ++c.reprints;
            c.labels += job.high - job.low + 1;
            r.reprints.push_back(job);
        }
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

    // The batches: the one the shift began in (the last import into a15
    // before it), then one per import into a15 in the shift.
    // Both lookups, before and after the shift, go by the time index: in
    // the order written they would pass over the whole journal.
    r.batches.emplace_back();
    if (from > INT64_MIN) {
        journal::JournalFilter before;
        before.to = from - 1;
        before.kind = journal::JournalWords::Data;
        before.what = journal::JournalWords::Imported;
        // The newest import first, so that a long journal is not read up to
        // the shift for it.
        journal.forEach(before, journal::JournalReader::Order::Latest,
                        [&](const journal::JournalRow& row) {
                            if (!startsBatch(row))
                                return true;
                            r.batches[0] = batchOf(row);
                            return false;
                        });
    }
    std::vector<std::int64_t> batchIds; // the rows that began the shift's batches
    for (const auto& e : r.stationEvents)
        if (startsBatch(e)) {
            batchIds.push_back(e.id);
            r.batches.push_back(batchOf(e));
        }
    const std::size_t batches = r.batches.size();
    const auto batchAt = [&](std::int64_t id) {
        return static_cast<std::size_t>(std::upper_bound(batchIds.begin(), batchIds.end(), id) -
                                        batchIds.begin());
    };

    sortJobs(r, journal, filter, batchAt);
    std::vector<std::vector<std::pair<std::int64_t, std::int64_t>>> printed(batches),
        reprinted(batches);
    auto print = [&](const ReportJob& j, std::int64_t high) {
        printed[j.batch].emplace_back(j.low, high);
        if (!j.reprint.empty())
            reprinted[j.batch].emplace_back(j.low, high);
    };
    for (const ReportJob& j : r.printedJobs)
        print(j, j.high);
    for (const ReportJob& j : r.notPrintedJobs)
        if (j.lastPrinted)
            print(j, *j.lastPrinted);

    // Batch by batch: its scans (a part of found and verified, where the
    // cuts say), what it printed and verified, and its reconciliation.
    std::vector<RecordRanges> ranges(batches);
    std::vector<std::vector<std::pair<std::int64_t, std::int64_t>>> verifiedTimes(batches);
    for (std::size_t b = 0; b < batches; ++b) {
        auto part = [&](std::vector<std::int64_t>& v, std::size_t Pass::Cut::*at) {
            if (batches == 1)
                return std::move(v);
            const std::size_t begin = b == 0 ? 0 : all.cuts[b - 1].*at;
            const std::size_t end = b + 1 < batches ? all.cuts[b].*at : v.size();
            return std::vector<std::int64_t>(v.begin() + static_cast<std::ptrdiff_t>(begin),
                                             v.begin() + static_cast<std::ptrdiff_t>(end));
        };
        std::vector<std::int64_t> foundHere = part(found, &Pass::Cut::found);
        std::vector<std::int64_t> verifiedHere = part(verified, &Pass::Cut::verified);
        ReportBatch& batch = r.batches[b];
        batch.scans = static_cast<std::int64_t>(foundHere.size());
        ranges[b] = mergeRanges(std::move(printed[b]));
        batch.printed = ranges[b];
        batch.reprinted = mergeRanges(std::move(reprinted[b]));
        const auto scannedTimes = tally(foundHere);
        verifiedTimes[b] = tally(verifiedHere);
        batch.verified = rangesOf(verifiedTimes[b]);
        for (const auto& [record, times] : scannedTimes)
            if (times > 1)
                r.scannedMoreThanOnce.push_back({record, {}, times, b});
        for (const auto& [record, times] : verifiedTimes[b])
            if (!inRanges(ranges[b], record))
                r.verifiedNotPrinted.push_back({record, {}, times, b});
    }
    found = {};
    verified = {};

    // The record side: which records the printed ranges hold, and the code
    // texts of every record named. The label database holds the latest
    // batch: the shift's last, unless a15 was imported again after it.
    struct BatchRecordHash {
        std::size_t operator()(const std::pair<std::size_t, std::int64_t>& k) const {
            return std::hash<std::int64_t>()(k.second) ^ (k.first * 0x9e3779b97f4a7c15ULL);
        }
    };
    std::unordered_map<std::pair<std::size_t, std::int64_t>, std::string*, BatchRecordHash> wanted;
    for (auto* list : {&r.scannedMoreThanOnce, &r.verifiedNotPrinted})
        for (auto& rec : *list)
            wanted.emplace(std::make_pair(rec.batch, rec.record), &rec.code);
    std::optional<std::size_t> held = batches - 1;
    if (records && to < INT64_MAX) {
        journal::JournalFilter later;
        later.from = to + 1;
        later.kind = journal::JournalWords::Data;
        later.what = journal::JournalWords::Imported;
        journal.forEach(later, journal::JournalReader::Order::Time,
                        [&](const journal::JournalRow& row) {
                            if (startsBatch(row))
                                held.reset();
                            return held.has_value();
                        });
        if (!held)
            r.recordsError = "a15 was imported again after the shift: it holds other labels now";
    }
    if (records && held) {
        const std::size_t b = *held;
        try {
            std::int64_t n = 0;
            records->forEachRecord([&](std::int64_t bh, const std::string& tt) {
                if (inRanges(ranges[b], bh) && !contains(verifiedTimes[b], bh))
                    r.printedNotVerified.push_back({bh, tt, 0, b});
                if (auto it = wanted.find({b, bh}); it != wanted.end())
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
    // The batches the label database does not hold (every one without it):
    // their printed records number by number.
    std::int64_t walked = 0;
    for (std::size_t b = 0; b < batches; ++b) {
        if (r.recordsRead && held && b == *held)
            continue;
        for (const auto& [lo, hi] : ranges[b])
            for (std::int64_t n = lo; n <= hi && walked < kMaxNumbersWithoutRecords; ++n, ++walked)
                if (!contains(verifiedTimes[b], n))
                    r.printedNotVerified.push_back({n, {}, 0, b});
    }
    std::sort(r.printedNotVerified.begin(), r.printedNotVerified.end(),
              [](const ReportRecord& a, const ReportRecord& b) {
                  return std::tie(a.batch, a.record) < std::tie(b.batch, b.record);
              });

    // Codes the label database does not hold (re-imported since, an earlier
    // batch, or not read) are taken as they were scanned in their batch.
    for (auto it = wanted.begin(); it != wanted.end();)
        it = it->second->empty() ? std::next(it) : wanted.erase(it);
    if (!wanted.empty()) {
        journal::JournalFilter scans = filter;
        scans.kind = journal::JournalWords::Scan;
        scans.leanKind.clear();
        journal.forEach(
            scans, journal::JournalReader::Order::Appended, [&](const journal::JournalRow& row) {
                if (row.record && row.code)
                    if (auto it = wanted.find({batchAt(row.id), *row.record}); it != wanted.end()) {
                        *it->second = *row.code;
                        wanted.erase(it);
                    }
                return !wanted.empty();
            });
    }
    return r;
}

} // namespace vx::journal
