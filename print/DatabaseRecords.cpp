#include "print/DatabaseRecords.h"

#include "data/ConnectionString.h"
#include "data/RecordTable.h"
#include "print/PrintRange.h"

#include <filesystem>
#include <system_error>

namespace vx::print {

DatabaseRecords::DatabaseRecords() = default;
DatabaseRecords::~DatabaseRecords() = default;

void DatabaseRecords::open(const JobParams& job) {
    // Reopening would make an empty file where the station's database was
    // deleted; the job fails instead, and the window's own reconnect decides.
    const data::DbSettings settings = data::parseConnectionString(job.database);
    if (data::namesSqliteFile(settings.server)) {
        const std::string path = data::resolveSqlitePath(settings.server, job.baseFolder);
        std::error_code ec;
        if (!std::filesystem::exists(path, ec))
            throw data::DbError("The database file \"" + path + "\" does not exist");
    }
    m_db.setConnectionString(job.database);
    m_db.setBaseFolder(job.baseFolder);
    m_db.setClientCharset(job.charset);
    m_db.open();
}

void DatabaseRecords::selectOnce(const JobParams& job) {
    const std::string settings = job.database + '\n' + job.baseFolder + '\n' + job.charset;
    if (m_db.connected() && m_openedWith != settings)
        m_db.close();
    if (!m_db.connected()) {
        open(job);
        m_openedWith = settings;
    }
    // The bounds went through the range entry's conversion; spliced back
    // as the numbers they are, nothing else can reach the statement.
    const std::string lower = std::to_string(toInteger(job.lower));
    const std::string upper = std::to_string(toInteger(job.upper));
    adoq3.close();
    adoq3.clear();
    adoq3.add(data::RecordTable::printRange(m_db.dialect(), lower, upper));
    adoq3.open();
}

void DatabaseRecords::select(const JobParams& job) {
    try {
        try {
            selectOnce(job);
        } catch (const data::DbConnectionLost&) {
            // The file was deleted or replaced, or the server dropped the
            // connection, since the last job: one new connection, one retry.
            m_db.close();
            selectOnce(job);
        }
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
