#pragma once

#include "data/Database.h"
#include "print/PrintJob.h"

#include <string>

namespace vx::print {

// The records of a print range from a15, on a connection of the print
// worker's own: no query or connection is shared with the window. The
// connection opens on the first job with the window's settings the job
// carries (connection string, base folder, character set) and stays open; a
// job dispatched with other settings reopens it. A connection found lost
// (the database file deleted or replaced, the server gone) is reopened once
// and the statement retried; any other failure closes it so the next job
// starts afresh.
class DatabaseRecords : public RecordSource {
public:
    DatabaseRecords();
    ~DatabaseRecords() override;
    void select(const JobParams& job) override;
    bool next(LabelRecord& record) override;
    long count() const override { return static_cast<long>(adoq3.recordCount()); }

private:
    void open(const JobParams& job);
    void selectOnce(const JobParams& job);

    data::Connection m_db;
    data::Query adoq3{m_db};
    std::string m_openedWith;
};

} // namespace vx::print
