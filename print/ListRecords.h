#pragma once

#include "print/PrintJob.h"

#include <string>
#include <string_view>
#include <vector>

namespace vx::print {

// Records handed in directly, selected by their numbers the way the database
// query selects them. Used where there is no database: tools and tests.
class ListRecords : public RecordSource {
public:
    explicit ListRecords(std::vector<LabelRecord> records) : m_records(std::move(records)) {}
    void select(const JobParams& job) override;
    bool next(LabelRecord& record) override;
    long count() const override { return static_cast<long>(m_selected.size()); }

private:
    std::vector<LabelRecord> m_records;
    std::vector<LabelRecord> m_selected;
    std::size_t m_next = 0;
};

// "bh|tt|pic" or "bh|tt": the number before the first '|', the picture after
// the last of two or more, the code text between (it may hold '|' itself when
// the picture is given, even empty). False for a text without '|' or with a
// number that is not one.
bool parseRecord(std::string_view text, LabelRecord& record);

} // namespace vx::print
