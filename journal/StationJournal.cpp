#include "journal/StationJournal.h"

#include <string_view>

namespace vx::journal {

const char* StationJournal::connectionWord(const char* what, bool& lost) {
    const bool opened = std::string_view(what) == JournalWords::Opened;
    const char* word = opened && lost ? JournalWords::Reconnected : what;
    if (opened || std::string_view(what) == JournalWords::Lost)
        lost = !opened;
    return word;
}

void StationJournal::port(const char* what, const std::string& port, const std::string& message) {
    event(JournalWords::Port, connectionWord(what, m_portLost), port, message);
}

void StationJournal::database(const char* what, const std::string& where,
                              const std::string& message) {
    event(JournalWords::Database, connectionWord(what, m_databaseLost), where, message);
}

void StationJournal::settingsSaved(
    const char* section, std::initializer_list<std::pair<const char*, const std::string*>> keys) {
    std::string names = std::string("[") + section + "]", values;
    for (const auto& [key, value] : keys) {
        names += std::string(names.back() == ']' ? " " : ", ") + key;
        if (value)
            values += (values.empty() ? "" : " ") + std::string(key) + "=" + *value;
    }
    event(JournalWords::Settings, JournalWords::Saved, names, values);
}

void StationJournal::event(const char* kind, const char* what, const std::string& subject,
                           const std::string& message) {
    JournalEvent e;
    e.kind = kind;
    e.what = what;
    e.subject = subject;
    e.message = message;
    m_journal.append(e);
}

} // namespace vx::journal
