#pragma once

#include "print/PrintJob.h"

#include <string>
#include <vector>

namespace vx::print {

// What the gLabels back end needs to know of a template.
struct GLabelsTemplate {
    char separator = ',';   // of its text merge source
    int labelsPerSheet = 1; // all layouts of the label together
    // A Code 128 bar code filled from one of the label's values.
    struct Barcode {
        int value;         // index in kLabelValueNames
        bool digitPairs;   // subset C only ("Code128C")
        std::string style; // as the template names it
    };
    std::vector<Barcode> barcodes;
};

// Reads a gLabels template (XML, plain or gzip-compressed, as gLabels saves
// it) and checks that it can print the station's records: a gLabels document
// whose merge source is text with the keys in its first line
// ("Text/Comma/Line1Keys", or Tab, Colon, Semicolon), and whose merge fields
// are all ones the station fills. Raises PrintError.
GLabelsTemplate readGLabelsTemplate(const std::string& path);

// One field of gLabels' text merge data: always quoted; a backslash escapes
// the next byte there, so backslashes and quotes are escaped. Bytes are kept
// as they are otherwise (line breaks included).
std::string mergeField(const std::string& value);

// Merge data: the keys (kLabelValueNames) in the first line, then one line
// per label.
std::string mergeData(const std::vector<LabelValues>& labels, char separator);

// Prints through gLabels on Linux: open checks the template; each printout
// records the named values set so far as one label (they persist from label
// to label, as named substrings do); Close writes the labels as merge data,
// renders them to a PDF with glabels-3-batch and hands the PDF to CUPS with
// lp, to the queue named by [print] printer (empty: the default
// destination). A missing destination or a failed lp fails the job; a
// queue that takes the job and holds it is told by held().
class GLabelsBackend : public PrintBackend {
public:
    struct Programs {
        std::string batch = "glabels-3-batch";
        std::string lp = "lp";
    };

    // title: the job's title in the printer's queue.
    GLabelsBackend(std::string printer, std::string title);
    GLabelsBackend(std::string printer, std::string title, Programs programs);
    ~GLabelsBackend() override;

    // The character set the values come in (the station's, [Database]
    // charset); empty: the locale's. gLabels reads its merge data as UTF-8,
    // so each value is converted, and one that is not text in this
    // character set fails the job.
    void setCharset(std::string charset) { m_charset = std::move(charset); }

    std::string name() const override { return "gLabels"; }
    void create() override;
    void Visible(bool) override {}
    void formats() override {}
    void open(const std::string& templatePath, bool closeOutOfDate,
              const std::string& password) override;
    void SetNamedSubStringValue(const std::string& name, const std::string& value) override;
    void printout(std::int32_t copies, bool showDialog) override;
    void Close(std::int32_t saveChanges) override;
    void release() override;
    void quit(std::int32_t saveChanges) override;
    std::optional<int> labelsSent() const override { return m_sent; }
    std::string held() const override { return m_held; }

    // The PDF of the last Close, while the back end lives (tests, bench).
    const std::string& pdfPath() const { return m_pdf; }
    // Keeps the work folder after the back end ends (tests, bench).
    void keepFiles() { m_keep = true; }

private:
    void removeWorkFolder();

    std::string m_printer, m_title, m_charset;
    Programs m_programs;
    std::string m_template;
    GLabelsTemplate m_layout;
    bool m_open = false;
    LabelValues m_values;
    std::vector<LabelValues> m_labels;
    std::string m_work, m_pdf;
    bool m_keep = false;
    int m_sent = 0;
    std::string m_held;
};

} // namespace vx::print
