#include "print/ListRecords.h"

#include "print/PrintRange.h"

namespace vx::print {

void ListRecords::select(const JobParams& job) {
    const std::int64_t lower = toInteger(job.lower), upper = toInteger(job.upper);
    m_selected.clear();
    m_next = 0;
    for (const LabelRecord& r : m_records) {
        const std::int64_t bh = toInteger(r.bh);
        if (bh >= lower && bh <= upper)
            m_selected.push_back(r);
    }
}

bool ListRecords::next(LabelRecord& record) {
    if (m_next >= m_selected.size())
        return false;
    record = m_selected[m_next++];
    return true;
}

bool parseRecord(std::string_view text, LabelRecord& record) {
    const std::size_t first = text.find('|');
    if (first == std::string_view::npos)
        return false;
    const std::size_t last = text.rfind('|');
    LabelRecord r;
    r.bh = std::string(text.substr(0, first));
    if (last == first) {
        r.tt = std::string(text.substr(first + 1));
    } else {
        r.tt = std::string(text.substr(first + 1, last - first - 1));
        r.pic = std::string(text.substr(last + 1));
    }
    try {
        toInteger(r.bh);
    } catch (const NotAnInteger&) {
        return false;
    }
    record = std::move(r);
    return true;
}

} // namespace vx::print
