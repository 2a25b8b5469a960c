#pragma once

#include "journal/Journal.h"

#include <initializer_list>
#include <string>
#include <utility>

namespace vx::journal {

// The station's own events on its journal, beside the scans' rows
// (scan/ScanJournal) and the print jobs' (print/PrintJournal): the scanner
// port and the label database opened, failed or lost, with an opening after
// a loss noted as reconnected; settings saved; the print area's reset.
class StationJournal {
public:
    explicit StationJournal(Journal& journal) : m_journal(journal) {}

    // what: Opened, Failed or Lost; port: the port's name.
    void port(const char* what, const std::string& port, const std::string& message = {});
    // what as for the port; where: the database as data::databaseLocation
    // names it.
    void database(const char* what, const std::string& where, const std::string& message = {});
    // Keys saved in one section, with their values; a key given without a
    // value (the password) is named only.
    void settingsSaved(const char* section,
                       std::initializer_list<std::pair<const char*, const std::string*>> keys);
    // Any other event: one row of kind and what about subject.
    void event(const char* kind, const char* what, const std::string& subject,
               const std::string& message = {});

private:
    // The word for what: Reconnected for an opening after a loss. lost
    // follows Lost and Opened; a failure leaves it as it was.
    static const char* connectionWord(const char* what, bool& lost);

    Journal& m_journal;
    bool m_portLost = false, m_databaseLost = false;
};

} // namespace vx::journal
