#pragma once

#include "data/Database.h"
#include "print/PrintJob.h"

#include <string>

namespace vx::print {

// The records of a print range from a15, on a connection of the print
// worker's own: no query or connection is shared with the window. The
// connection opens on the first job and stays open; a job dispatched with
// other connection settings reopens it, and a failure closes it so the next
// job starts afresh.
class DatabaseRecords : public RecordSource {
public:
    DatabaseRecords();
    ~DatabaseRecords() override;
    void select(const JobParams& job) override;
    bool next(LabelRecord& record) override;

private:
    data::Connection m_db;
    data::Query adoq3{m_db};
    std::string m_openedWith;
};

} // namespace vx::print
