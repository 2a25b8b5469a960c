#pragma once

#include "data/ConnectionString.h"
#include "settings/IniFile.h"

#include <string>

namespace vx::settings {

// config.ini in the station's folder, by key: every key the station and its
// tools read or write, with its section and the value a missing key reads as.
// Values are texts, numbers decimal texts converted where they are used.
// Nothing is cached: each read goes to the file and each write rewrites it,
// so any number of these objects on one folder see the same settings.
class StationSettings {
public:
    static constexpr const char* kFileName = "config.ini";

    // folder: the station's folder, with its trailing separator.
    explicit StationSettings(const std::string& folder);

    const IniFile& file() const { return m_file; }

    // [Database] servername, dataname, username ("sa" when missing) and mm
    // (the password), each "" when missing.
    data::DbSettings database() const;
    void setDatabase(const data::DbSettings& settings) const;
    // [Database] charset: the character set of the label files; "" (and
    // missing) for the station's own.
    std::string charset() const;

    // [com] num: the scanner port's name; "" when missing.
    std::string portName() const;
    void setPortName(const std::string& name) const;

    // [STR] strstart ("1" when missing): where the code field starts in a
    // scan, counted from 1. [STR] strnum ("0"): its length, 0 for the whole
    // scan.
    std::string codeFieldStart() const;
    std::string codeFieldLength() const;
    void setCodeField(const std::string& start, const std::string& length) const;

    // [print] lienum ("1"): the column count, the step between the numbers
    // of records scanned one after the other; a whole number in 32 bits.
    std::string columnCount() const;
    void setColumnCount(const std::string& count) const;

    // [print] lastnum: the number of the last record sent to printing; ""
    // when missing, as start-up reads it (the print area reads it with "0").
    std::string lastPrinted(const std::string& ifMissing = "") const;
    void setLastPrinted(const std::string& number) const;

    // [print] btfile: the label template's path; "" when missing.
    std::string templatePath() const;
    void setTemplatePath(const std::string& path) const;

    // [print] printer: where print jobs go; "" (and missing) for the default
    // destination.
    std::string printer() const;

private:
    IniFile m_file;
};

} // namespace vx::settings
