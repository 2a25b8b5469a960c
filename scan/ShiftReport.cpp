#include "scan/ShiftReport.h"

#include "scan/RecordTable.h"
#include "scan/ScanJournal.h"

#include <algorithm>
#include <unordered_map>

namespace vx::scan {
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
    q.setText(RecordTable::allRecords(m_db.dialect()));
    q.open();
    for (; !q.eof(); q.next())
        fn(q.field(0).asInt(), q.field(1).asText());
}

ShiftReport makeShiftReport(data::JournalReader& journal, std::int64_t from, std::int64_t to,
                            RecordSide* records, const ReportOptions& options) {
    ShiftReport r;
    r.from = from;
    r.to = to;
    const auto hourStart = options.hourStart ? options.hourStart : utcHourStart;

    // One pass over the journal in the order it was written.
    std::vector<std::int64_t> found, verified;
    std::vector<std::pair<std::int64_t, std::int64_t>> printed;
    std::unordered_map<std::int64_t, std::string> scannedCode; // filled for few records only
    std::int64_t lastScan = 0, bucket = 0, bucketEnd = 0, bucketCount = 0;
    bool anyScan = false;
    data::JournalFilter filter;
    filter.from = from;
    filter.to = to;
    auto progress = [&](std::int64_t id, std::int64_t top) {
        if (options.progress)
            options.progress("journal", id, top);
    };
    journal.forEach(
        filter, data::JournalReader::Order::Appended,
        [&](const data::JournalRow& row) {
            ++r.events;
            if (row.kind == kScanKind) {
                ++r.scans;
                ++r.scansByVerdict[row.what];
                if (anyScan && row.time - lastScan > 0 &&
                    (!r.longestPause ||
                     row.time - lastScan > r.longestPause->second - r.longestPause->first))
                    r.longestPause = std::make_pair(lastScan, row.time);
                lastScan = row.time;
                anyScan = true;
                if (row.record) {
                    found.push_back(*row.record);
                    if (verifiedGood(row.what)) {
                        verified.push_back(*row.record);
                        if (row.time < bucket || row.time >= bucketEnd) {
                            if (bucketCount)
                                r.goodPerHour.emplace_back(bucket, bucketCount);
                            bucket = hourStart(row.time);
                            bucketEnd = bucket + kHourMs;
                            bucketCount = 0;
                        }
                        ++bucketCount;
                    }
                }
            } else if (row.kind == data::JournalWords::Print) {
                r.prints.push_back(row);
                if (row.what == data::JournalWords::Dispatched && row.low && row.high &&
                    *row.low <= *row.high)
                    printed.emplace_back(*row.low, *row.high);
            } else {
                r.stationEvents.push_back(row);
            }
            return true;
        },
        progress);
    if (bucketCount)
        r.goodPerHour.emplace_back(bucket, bucketCount);
    // Hours met twice (rows out of time order) are added up.
    std::sort(r.goodPerHour.begin(), r.goodPerHour.end());
    std::vector<std::pair<std::int64_t, std::int64_t>> perHour;
    for (const auto& h : r.goodPerHour) {
        if (!perHour.empty() && perHour.back().first == h.first)
            perHour.back().second += h.second;
        else
            perHour.push_back(h);
    }
    r.goodPerHour = std::move(perHour);

    const auto ranges = merge(std::move(printed));
    const auto scannedTimes = tally(found);
    const auto verifiedTimes = tally(verified);
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
        data::JournalFilter scans = filter;
        scans.kind = kScanKind;
        journal.forEach(scans, data::JournalReader::Order::Appended,
                        [&](const data::JournalRow& row) {
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

} // namespace vx::scan
