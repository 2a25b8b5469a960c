#pragma once

#include "print/PrintJob.h"
#include "print/RawPrinter.h"

#include <string>
#include <vector>

namespace vx::print {

// ZPL's field hex escape: the bytes of a value that the printer could read
// as anything but text — the command prefixes ^ and ~, the escape indicator
// itself, a backslash, control bytes and every byte beyond ASCII — are
// written as the indicator and two upper-case hex digits. Inside a field
// with ^FH (indicator) the printer turns them back into those bytes, as
// data. In a Code 128 field whose mode reads '>' as an invocation code
// (code128), a '>' is written ">0", the invocation that stands for the sign.
std::string zplFieldEscape(const std::string& value, char indicator = '_', bool code128 = false);

// A label format in ZPL with placeholders for the named values. Checked
// once: exactly one ^XA … ^XZ format with nothing but blanks around it, no
// change of the command prefixes, and placeholders only known ones and only
// in field data (^FD or ^FV), where they are filled escaped. A template holds
// the named values as {sjy-bh}, {sjy-tt}, {sjy-pic}. Comments (^FX)
// are left out of the labels.
class ZplTemplate {
public:
    // Raises PrintError naming what is wrong and where; source names the
    // template in the message.
    static ZplTemplate parse(const std::string& text, const std::string& source);
    static ZplTemplate read(const std::string& path);

    // Appends one label and the template's own line end after its ^XZ.
    void render(const LabelValues& values, std::string& out) const;
    // Raises UnprintableValue when a value that fills a Code 128 bar code
    // (^BC, in any mode) is text the bar code cannot carry.
    void checkBarcodeValues(const LabelValues& values) const;

private:
    class Parser;
    struct Piece {
        std::string literal; // sent as it is
        int value = -1;      // then this value, escaped, if >= 0
        char indicator = '_';
        bool code128 = false; // the value's '>' escaped for Code 128
        bool barcode = false; // the value fills a Code 128 bar code
    };
    std::vector<Piece> m_pieces;
};

// Prints on label printers that speak ZPL: open reads and checks the
// template; SetNamedSubStringValue sets a value, which persists from label
// to label as named substrings do; printout renders one label; Close sends
// the whole job at once to [print] printer (see RawDestination) and fails the
// job unless the printer took all of it, saying how many labels it took, or
// that this is unknown.
class ZplBackend : public PrintBackend {
public:
    // title: the job's name in a print queue.
    ZplBackend(std::string printer, std::string title, RawTimeouts timeouts = {});

    std::string name() const override { return "ZPL"; }
    void create() override;
    void Visible(bool) override {}
    void formats() override {}
    void open(const std::string& templatePath, bool closeOutOfDate,
              const std::string& password) override;
    void SetNamedSubStringValue(const std::string& name, const std::string& value) override;
    void printout(std::int32_t copies, bool showDialog) override;
    void Close(std::int32_t saveChanges) override;
    void release() override;
    void quit(std::int32_t) override {}
    std::optional<int> labelsSent() const override { return m_sent; }
    std::string held() const override { return m_held; }

    // The bytes of the job as rendered so far (tests, bench).
    const std::string& job() const { return m_job; }

private:
    std::string m_printer, m_title;
    RawTimeouts m_timeouts;
    RawDestination m_destination;
    ZplTemplate m_template;
    bool m_open = false;
    LabelValues m_values;
    std::string m_job;
    std::vector<std::size_t> m_labelEnds; // offset in m_job after each label
    std::optional<int> m_sent = 0;
    std::string m_held;
};

} // namespace vx::print
