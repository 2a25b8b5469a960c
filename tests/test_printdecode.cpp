// Every label carries exactly its code. The station's jobs through each back
// end are rendered by programs nobody here wrote (zebrash for ZPL, gLabels
// for the PDF), their barcodes read by zbarimg and compared byte for byte
// with the records; our own ZPL reader agrees with the back end only because
// both came from one reading of the manual.

#include "print/GLabelsBackend.h"
#include "print/ListRecords.h"
#include "print/ZplBackend.h"
#include "tests/support/PrintedPdf.h"
#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace vx::print;
using vx::test::readFile;
using vx::test::writeFile;

namespace {

const std::string kZplTemplate = VEXORA_SOURCE_DIR "/print/templates/vexora-label.zpl";
const std::string kGLabelsTemplate = VEXORA_SOURCE_DIR "/print/templates/vexora-label.glabels";

// Code texts chosen to break an encoding: every printable ASCII character
// alone and inside a code, '>' before each character ZPL reads as an
// invocation after it, blanks at either end, 30 characters (what a15.tt
// holds), and digits only (Code 128 packs those two to a bar).
std::vector<std::string> hostileTexts() {
    std::vector<std::string> t;
    for (char c = 0x20; c < 0x7F; ++c)
        t.push_back(std::string(1, c));
    for (char c = 0x20; c < 0x7F; ++c)
        t.push_back(std::string("VX") + c + "01");
    for (char k : std::string("<0=123456789:;")) {
        t.push_back(std::string("X>") + k + "Y");
        t.push_back(std::string(">") + k);
    }
    for (const char* s : {" VX0001", "VX0001 ", "  VX 0001  ", "X>Y1", "AB>0CD", ">>>",
                          "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}",
                          "~}|{zyxwvutsrqponmlkjihgfedcba", "0", "12", "000001",
                          "012345678901234567890123456789", "01234567890123456789012345678"})
        t.push_back(s);
    return t;
}

std::vector<LabelRecord> recordsOf(const std::vector<std::string>& texts) {
    std::vector<LabelRecord> out;
    for (std::size_t i = 0; i < texts.size(); ++i)
        out.push_back({std::to_string(i + 1), texts[i], ""});
    return out;
}

JobParams allOf(const std::vector<std::string>& texts, const std::string& templatePath) {
    JobParams job;
    job.lower = "1";
    job.upper = std::to_string(texts.size());
    job.templatePath = templatePath;
    return job;
}

// The texts whose label decoded to something else, with what it decoded to.
std::string mismatches(const std::vector<std::string>& texts,
                       const std::vector<std::string>& decoded) {
    std::string out;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string got = i < decoded.size() ? decoded[i] : "<no label>";
        if (got != texts[i])
            out += "  [" + texts[i] + "] decoded as [" + got + "]\n";
    }
    return out;
}

class ZplDecoded : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        renderer = vx::test::ZplRenderer::fromEnvironment(why);
        if (!renderer) {
            if (std::getenv("CI"))
                FAIL() << why;
            GTEST_SKIP() << why;
        }
    }
    // The job the back end makes for the texts, to a plain file as its device.
    std::string job(const std::vector<std::string>& texts, const std::string& templatePath) {
        const std::string out = dir.file("printer.out");
        writeFile(out, "");
        ZplBackend backend(out, "test");
        ListRecords source(recordsOf(texts));
        const JobOutcome o = runPrintJob(backend, source, allOf(texts, templatePath));
        EXPECT_TRUE(o.ok) << o.message;
        return readFile(out);
    }
    vx::test::TempDir dir;
    std::optional<vx::test::ZplRenderer> renderer;
};

} // namespace

TEST_F(ZplDecoded, EveryHostileTextDecodesExactlyFromTheShippedTemplate) {
    const auto texts = hostileTexts();
    const auto decoded = renderer->decode(job(texts, kZplTemplate), dir.path(), 50, 30);
    EXPECT_EQ(decoded.size(), texts.size());
    EXPECT_EQ(mismatches(texts, decoded), "");
}

TEST_F(ZplDecoded, InACode128FieldWithoutAModeAGreaterThanSignPrintsAsItself) {
    // Without a mode the printer reads '>' and the character after it as an
    // invocation. zebrash drops a field's last character where it stands
    // alone after an invocation (or is the whole field), which a printer
    // does not: the texts keep two characters after their last '>'.
    writeFile(dir.file("n.zpl"), "^XA\n^PW400\n^LL240\n^FO16,56^BY2,3,100^BCN,100,Y,N,N"
                                 "^FD{sjy-tt}^FS\n^XZ\n");
    std::vector<std::string> texts = {"X>Y1", "AB>0CD", ">>>"};
    for (char k : std::string("<0=123456789:;"))
        texts.push_back(std::string("X>") + k + "YZ");
    for (char c = 0x20; c < 0x7F; ++c)
        texts.push_back(std::string("A") + c + "BC");
    const auto decoded = renderer->decode(job(texts, dir.file("n.zpl")), dir.path(), 50, 30);
    EXPECT_EQ(mismatches(texts, decoded), "");
}

TEST(GLabelsDecoded, EveryHostileTextDecodesExactlyFromTheShippedTemplate) {
    int rc = 0;
    vx::test::run("command -v glabels-3-batch && command -v pdftoppm && command -v zbarimg", &rc);
    if (rc != 0) {
        if (std::getenv("CI"))
            FAIL() << "glabels, poppler-utils or zbar-tools missing";
        GTEST_SKIP() << "glabels, poppler-utils or zbar-tools missing";
    }
    vx::test::TempDir dir;
    const auto texts = hostileTexts();
    // The PDF glabels-3-batch renders, before CUPS (test_printchain follows
    // it through CUPS).
    GLabelsBackend backend("", "test", {"glabels-3-batch", "true"});
    backend.keepFiles();
    ListRecords source(recordsOf(texts));
    const JobOutcome o = runPrintJob(backend, source, allOf(texts, kGLabelsTemplate));
    ASSERT_TRUE(o.ok) << o.message;
    // 600 dpi: a 30-character code on a 50 mm label has bars 0.12 mm wide,
    // which a sheet printer of 600 dpi prints.
    const auto decoded = vx::test::pdfBarcodesByPage(backend.pdfPath(), dir.path(), 600);
    EXPECT_EQ(decoded.size(), texts.size());
    EXPECT_EQ(mismatches(texts, decoded), "");
    std::filesystem::remove_all(std::filesystem::path(backend.pdfPath()).parent_path());
}

TEST(GLabelsDecoded, AGbkStationsChineseTextPrintsAsItsCharacters) {
    int rc = 0;
    vx::test::run("command -v glabels-3-batch && command -v pdftotext", &rc);
    if (rc != 0) {
        if (std::getenv("CI"))
            FAIL() << "glabels or poppler-utils missing";
        GTEST_SKIP() << "glabels or poppler-utils missing";
    }
    // The shipped label, its code text in a text field of its own (Chinese
    // has no Code 128 bar): GBK written to gLabels unconverted made the
    // whole label blank.
    vx::test::TempDir dir;
    std::string label = readFile(kGLabelsTemplate);
    const std::size_t barcode = label.find("<Object-barcode");
    label.erase(barcode, label.find("/>", barcode) + 2 - barcode);
    writeFile(dir.file("text.glabels"), label);
    GLabelsBackend backend("", "test", {"glabels-3-batch", "true"});
    backend.setCharset("GBK");
    backend.keepFiles();
    // 中文标签 in GBK
    ListRecords source({{"1", "\xD6\xD0\xCE\xC4\xB1\xEA\xC7\xA9", ""}});
    JobParams job = allOf({"x"}, dir.file("text.glabels"));
    const JobOutcome o = runPrintJob(backend, source, job);
    ASSERT_TRUE(o.ok) << o.message;
    const std::string text = vx::test::pdfText(backend.pdfPath());
    EXPECT_NE(text.find("No. 1"), std::string::npos) << text;
    EXPECT_NE(text.find("\xE4\xB8\xAD\xE6\x96\x87\xE6\xA0\x87\xE7\xAD\xBE"), std::string::npos)
        << text;
    std::filesystem::remove_all(std::filesystem::path(backend.pdfPath()).parent_path());
}
