#include "settings/StationSettings.h"

namespace vx::settings {
namespace {

// A key of config.ini: its section, its name and what it reads as when it is
// missing.
struct Key {
    const char* section;
    const char* name;
    const char* missing;
};

constexpr Key kServer{"Database", "servername", ""};
constexpr Key kDatabaseName{"Database", "dataname", ""};
constexpr Key kUser{"Database", "username", "sa"};
constexpr Key kPassword{"Database", "mm", ""};
constexpr Key kCharset{"Database", "charset", ""};
constexpr Key kPort{"com", "num", ""};
constexpr Key kCodeStart{"STR", "strstart", "1"};
constexpr Key kCodeLength{"STR", "strnum", "0"};
constexpr Key kColumns{"print", "lienum", "1"};
constexpr Key kLastPrinted{"print", "lastnum", ""};
constexpr Key kTemplate{"print", "btfile", ""};
constexpr Key kPrinter{"print", "printer", ""};

std::string read(const IniFile& file, const Key& key) {
    return file.readString(key.section, key.name, key.missing);
}

void write(const IniFile& file, const Key& key, const std::string& value) {
    file.writeString(key.section, key.name, value);
}

} // namespace

StationSettings::StationSettings(const std::string& folder) : m_file(folder + kFileName) {}

data::DbSettings StationSettings::database() const {
    return {read(m_file, kServer), read(m_file, kDatabaseName), read(m_file, kUser),
            read(m_file, kPassword)};
}

void StationSettings::setDatabase(const data::DbSettings& s) const {
    write(m_file, kServer, s.server);
    write(m_file, kDatabaseName, s.database);
    write(m_file, kUser, s.user);
    write(m_file, kPassword, s.password);
}

std::string StationSettings::charset() const {
    return read(m_file, kCharset);
}

std::string StationSettings::portName() const {
    return read(m_file, kPort);
}

void StationSettings::setPortName(const std::string& name) const {
    write(m_file, kPort, name);
}

std::string StationSettings::codeFieldStart() const {
    return read(m_file, kCodeStart);
}

std::string StationSettings::codeFieldLength() const {
    return read(m_file, kCodeLength);
}

void StationSettings::setCodeField(const std::string& start, const std::string& length) const {
    write(m_file, kCodeStart, start);
    write(m_file, kCodeLength, length);
}

std::string StationSettings::columnCount() const {
    return read(m_file, kColumns);
}

void StationSettings::setColumnCount(const std::string& count) const {
    write(m_file, kColumns, count);
}

std::string StationSettings::lastPrinted(const std::string& ifMissing) const {
    return m_file.readString(kLastPrinted.section, kLastPrinted.name, ifMissing);
}

void StationSettings::setLastPrinted(const std::string& number) const {
    write(m_file, kLastPrinted, number);
}

std::string StationSettings::templatePath() const {
    return read(m_file, kTemplate);
}

void StationSettings::setTemplatePath(const std::string& path) const {
    write(m_file, kTemplate, path);
}

std::string StationSettings::printer() const {
    return read(m_file, kPrinter);
}

} // namespace vx::settings
