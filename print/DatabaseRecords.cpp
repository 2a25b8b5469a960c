#include "print/DatabaseRecords.h"

#include "print/PrintRange.h"
#include "scan/RecordTable.h"

namespace vx::print {

DatabaseRecords::DatabaseRecords() = default;
DatabaseRecords::~DatabaseRecords() = default;

void DatabaseRecords::select(const JobParams& job) {
    try {
        const std::string settings = job.database + '\n' + job.baseFolder;
        if (m_db.connected() && m_openedWith != settings)
            m_db.close();
        if (!m_db.connected()) {
            m_db.setConnectionString(job.database);
            m_db.setBaseFolder(job.baseFolder);
            m_db.open();
            m_openedWith = settings;
        }
        // The bounds went through the range entry's conversion; spliced back
        // as the numbers they are, nothing else can reach the statement.
        const std::string lower = std::to_string(toInteger(job.lower));
        const std::string upper = std::to_string(toInteger(job.upper));
        adoq3.close();
        adoq3.clear();
        adoq3.add(scan::RecordTable::printRange(m_db.dialect(), lower, upper));
        adoq3.open();
    } catch (const data::DbError&) {
        m_db.close();
        throw;
    }
}

bool DatabaseRecords::next(LabelRecord& record) {
    try {
        if (adoq3.eof()) {
            adoq3.close();
            return false;
        }
        record.bh = adoq3.fieldByName("bh").asText();
        record.tt = adoq3.fieldByName("tt").asText();
        record.pic = adoq3.fieldByName("pic").asText(); // NULL reads as ""
        adoq3.next();
        return true;
    } catch (const data::DbError&) {
        m_db.close();
        throw;
    }
}

} // namespace vx::print
