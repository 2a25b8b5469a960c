// The gLabels back end with stand-ins for glabels-3-batch and lp that record
// what they were given; the real programs are driven by test_printchain.

#include "print/Backends.h"
#include "print/GLabelsBackend.h"
#include "print/ListRecords.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vx::print;
using vx::test::readFile;
using vx::test::writeFile;

namespace {

const std::string kTemplate = VEXORA_SOURCE_DIR "/print/templates/vexora-label.glabels";

void writeScript(const std::string& path, const std::string& body) {
    writeFile(path, "#!/bin/bash\n" + body);
    ::chmod(path.c_str(), 0755);
}

std::string glabelsDocument(const std::string& merge, const std::string& layouts) {
    return "<?xml version=\"1.0\"?>\n<Glabels-document xmlns=\"http://glabels.org/xmlns/3.0/\">\n"
           "<Template brand=\"X\" part=\"Y\"><Label-rectangle id=\"0\" width=\"1in\" "
           "height=\"1in\">" +
           layouts + "</Label-rectangle></Template>\n<Objects id=\"0\" rotate=\"False\"/>\n" +
           merge + "\n</Glabels-document>\n";
}

// A one-label template with the objects given, merging the station's keys.
std::string labelWith(const std::string& objects) {
    std::string doc =
        glabelsDocument("<Merge type=\"Text/Comma/Line1Keys\"/>", "<Layout nx=\"1\" ny=\"1\"/>");
    const std::string empty = "<Objects id=\"0\" rotate=\"False\"/>";
    doc.replace(doc.find(empty), empty.size(),
                "<Objects id=\"0\" rotate=\"False\">" + objects + "</Objects>");
    return doc;
}

const std::string kTextOnly = "<Object-text x=\"0pt\" y=\"0pt\" w=\"60pt\" h=\"14pt\"><Span "
                              "font_family=\"DejaVu Sans\" font_size=\"10\">No. <Field "
                              "name=\"sjy-bh\"/> <Field name=\"sjy-tt\"/></Span></Object-text>";

} // namespace

class GLabelsJob : public ::testing::Test {
protected:
    void SetUp() override {
        // Renders one page per data line after the keys, as glabels-3-batch
        // does for a one-label sheet; pages can be forced to a wrong count.
        writeScript(dir.file("glabels-3-batch"),
                    "[ -f '" + dir.file("slow") +
                        "' ] && sleep 60\n"
                        "while [ $# -gt 0 ]; do case \"$1\" in -o) out=$2; shift 2;; -i) in=$2; "
                        "shift 2;; *) tpl=$1; shift;; esac; done\n"
                        "cp \"$in\" '" +
                        dir.file("merge.txt") + "'\necho \"$tpl\" > '" + dir.file("template.txt") +
                        "'\nn=$(( $(wc -l < \"$in\") - 1 ))\n"
                        "[ -f '" +
                        dir.file("pages") + "' ] && n=$(cat '" + dir.file("pages") +
                        "')\nprintf '%%PDF-1.4\\n<< /Type /Pages /Count %s >>\\n' \"$n\" > "
                        "\"$out\"\necho \"LABEL FILE = $tpl\"\n");
        writeScript(dir.file("lp"), "printf '%s\\n' \"$@\" > '" + dir.file("lp.args") +
                                        "'\nif [ -f '" + dir.file("lp.fails") +
                                        "' ]; then echo 'lp: Error - No default destination.' "
                                        ">&2; exit 1; fi\necho 'request id is Q-1 (1 file(s))'\n");
        programs = {dir.file("glabels-3-batch"), dir.file("lp")};
    }
    JobOutcome print(const std::string& lower, const std::string& upper,
                     std::vector<LabelRecord> records, const std::string& printer = "Queue") {
        JobParams job;
        job.lower = lower;
        job.upper = upper;
        job.templatePath = kTemplate;
        GLabelsBackend backend(printer, "Vexora " + job.rangeText(), programs);
        ListRecords source(std::move(records));
        return runPrintJob(backend, source, job);
    }
    // A job as the station makes it, through the platform's back ends with
    // the stand-in programs first in PATH.
    JobOutcome printAsStation(const std::string& templatePath, const std::string& charset,
                              std::vector<LabelRecord> records) {
        const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        ::setenv("PATH", (dir.path() + ":" + path).c_str(), 1);
        JobParams job;
        job.lower = "1";
        job.upper = std::to_string(records.size());
        job.templatePath = templatePath;
        job.printer = "Queue";
        job.charset = charset;
        auto backend = platformBackends().make(job);
        ListRecords source(std::move(records));
        const JobOutcome o = runPrintJob(*backend, source, job);
        ::setenv("PATH", path.c_str(), 1);
        return o;
    }
    vx::test::TempDir dir;
    GLabelsBackend::Programs programs;
};

TEST_F(GLabelsJob, EachPrintoutIsOneLabelOfTheValuesSetSoFarSentWholeAtClose) {
    const JobOutcome o =
        print("1", "3", {{"1", "VX1", "/p/a_1.png"}, {"2", "VX\"2", ""}, {"3", "VX,3", ""}});
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.sent, 3);
    // The picture persists from label 1, as a named substring keeps its value.
    EXPECT_EQ(readFile(dir.file("merge.txt")), "\"sjy-bh\",\"sjy-tt\",\"sjy-pic\"\n"
                                               "\"1\",\"VX1\",\"/p/a_1.png\"\n"
                                               "\"2\",\"VX\\\"2\",\"/p/a_1.png\"\n"
                                               "\"3\",\"VX,3\",\"/p/a_1.png\"\n");
    EXPECT_EQ(readFile(dir.file("template.txt")), kTemplate + "\n");
    const std::string args = readFile(dir.file("lp.args"));
    EXPECT_EQ(args.substr(0, args.find("/")), "-t\nVexora 1-3\n-d\nQueue\n");
    EXPECT_NE(args.find("labels.pdf"), std::string::npos) << args;
}

TEST_F(GLabelsJob, TextsReachGLabelsAsUtf8FromTheStationsCharacterSet) {
    // gLabels reads its merge data as UTF-8: a GBK text written unconverted
    // made the whole label blank.
    writeFile(dir.file("text.glabels"), labelWith(kTextOnly));
    const JobOutcome o = printAsStation(dir.file("text.glabels"), "GBK",
                                        {{"1", "\xD6\xD0\xCE\xC4", "D:\\\xCD\xBC\\a_1.png"}});
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(readFile(dir.file("merge.txt")),
              "\"sjy-bh\",\"sjy-tt\",\"sjy-pic\"\n"
              "\"1\",\"\xE4\xB8\xAD\xE6\x96\x87\",\"D:\\\\\xE5\x9B\xBE\\\\a_1.png\"\n");
}

TEST_F(GLabelsJob, ATextThatIsNotInTheStationsCharacterSetFailsTheJobNamingItsRecord) {
    writeFile(dir.file("text.glabels"), labelWith(kTextOnly));
    const JobOutcome o =
        printAsStation(dir.file("text.glabels"), "UTF-8",
                       {{"1", "VX1", ""}, {"2", "\xD6\xD0", ""}, {"3", "VX3", ""}});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.sent, 0);
    EXPECT_NE(o.message.find("record 2: the sjy-tt text \"\\xD6\\xD0\" is not UTF-8 text"),
              std::string::npos)
        << o.message;
    EXPECT_FALSE(std::filesystem::exists(dir.file("merge.txt"))) << "nothing rendered";
    EXPECT_FALSE(std::filesystem::exists(dir.file("lp.args"))) << "nothing sent";
}

TEST_F(GLabelsJob, ACodeTextTheCode128BarCodeCannotCarryFailsTheJobBeforeAnythingIsSent) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xD6\xD0\xCE\xC4", "a byte beyond ASCII"}, // GBK 中文, as UTF-8 below
        {"VX\t1", "a control character (\\x09 at byte 3)"},
        {"", "it is empty"},
    };
    for (const auto& [text, why] : cases) {
        const JobOutcome o =
            printAsStation(kTemplate, "GBK", {{"1", "VX1", ""}, {"2", text, ""}, {"3", "VX3", ""}});
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.sent, 0);
        EXPECT_NE(o.message.find("record 2: the sjy-tt text"), std::string::npos) << o.message;
        EXPECT_NE(o.message.find("cannot go into the template's Code128 bar code: " + why),
                  std::string::npos)
            << o.message;
        EXPECT_FALSE(std::filesystem::exists(dir.file("lp.args"))) << "nothing sent";
    }
    // Subset C alone takes digits in pairs.
    writeFile(dir.file("c.glabels"),
              labelWith("<Object-barcode x=\"0pt\" y=\"0pt\" w=\"60pt\" h=\"30pt\" "
                        "backend=\"gnu-barcode\" style=\"Code128C\" field=\"sjy-tt\"/>"));
    EXPECT_TRUE(printAsStation(dir.file("c.glabels"), "GBK", {{"1", "0123", ""}}).ok);
    const JobOutcome odd = printAsStation(dir.file("c.glabels"), "GBK", {{"1", "012", ""}});
    EXPECT_NE(odd.message.find("an odd number"), std::string::npos) << odd.message;
}

TEST_F(GLabelsJob, NoPrinterNamedMeansTheDefaultDestination) {
    ASSERT_TRUE(print("1", "1", {{"1", "VX1", ""}}, "").ok);
    const std::string args = readFile(dir.file("lp.args"));
    EXPECT_EQ(args.find("-d"), std::string::npos) << args;
}

TEST_F(GLabelsJob, AFailedLpFailsTheJobWithItsMessage) {
    writeFile(dir.file("lp.fails"), "");
    const JobOutcome o = print("1", "2", {{"1", "VX1", ""}, {"2", "VX2", ""}});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.labels, 2);
    EXPECT_EQ(o.sent, 0) << "nothing reached the printer";
    EXPECT_NE(o.message.find("No default destination"), std::string::npos) << o.message;
}

TEST_F(GLabelsJob, ARenderingWithTheWrongPageCountFailsTheJob) {
    // glabels-3-batch ends with 0 even when it could not read its data.
    writeFile(dir.file("pages"), "1");
    const JobOutcome o = print("1", "3", {{"1", "A", ""}, {"2", "B", ""}, {"3", "C", ""}});
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.message.find("1 page(s) for 3 label(s)"), std::string::npos) << o.message;
    EXPECT_FALSE(std::filesystem::exists(dir.file("lp.args")));
}

TEST_F(GLabelsJob, ACancelWhileGLabelsRendersStopsItAndSendsNothing) {
    writeFile(dir.file("slow"), "");
    JobParams job;
    job.lower = "1";
    job.upper = "2";
    job.templatePath = kTemplate;
    GLabelsBackend backend("Queue", "Vexora 1-2", programs);
    ListRecords source({{"1", "VX1", ""}, {"2", "VX2", ""}});
    const auto t0 = std::chrono::steady_clock::now();
    JobHooks hooks;
    hooks.cancelled = [&] {
        return std::chrono::steady_clock::now() - t0 > std::chrono::milliseconds(300);
    };
    const JobOutcome o = runPrintJob(backend, source, job, hooks);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_TRUE(o.cancelled);
    EXPECT_EQ(o.sent, 0);
    EXPECT_NE(o.message.find("cancelled by the operator while"), std::string::npos) << o.message;
    EXPECT_FALSE(std::filesystem::exists(dir.file("lp.args")));
}

TEST_F(GLabelsJob, AReversedRangeSendsNothingToThePrinter) {
    const JobOutcome o = print("7", "3", {{"5", "A", ""}});
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.sent, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("merge.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("lp.args")));
}

TEST_F(GLabelsJob, AMissingProgramFailsTheJobAtCreate) {
    programs.batch = dir.file("no-such-glabels");
    const JobOutcome o = print("1", "1", {{"1", "A", ""}});
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.message.find("was not found"), std::string::npos) << o.message;
}

TEST(GLabelsTemplate, TheShippedTemplateMergesCommaSeparatedKeys) {
    const GLabelsTemplate t = readGLabelsTemplate(kTemplate);
    EXPECT_EQ(t.separator, ',');
    EXPECT_EQ(t.labelsPerSheet, 1);
}

TEST(GLabelsTemplate, CompressedFilesSeparatorsAndSheetsAreRead) {
    vx::test::TempDir dir;
    writeFile(dir.file("tab.glabels"),
              glabelsDocument("<Merge type='Text/Tab/Line1Keys' src='x.txt'/>",
                              "<Layout nx=\"2\" ny=\"5\"/><Layout nx=\"1\" ny=\"3\"/>"));
    const GLabelsTemplate t = readGLabelsTemplate(dir.file("tab.glabels"));
    EXPECT_EQ(t.separator, '\t');
    EXPECT_EQ(t.labelsPerSheet, 13);
    // gLabels saves its files gzip-compressed.
    ASSERT_EQ(
        std::system(("gzip -c '" + dir.file("tab.glabels") + "' > '" + dir.file("z.glabels") + "'")
                        .c_str()),
        0);
    EXPECT_EQ(readGLabelsTemplate(dir.file("z.glabels")).labelsPerSheet, 13);
}

TEST(GLabelsTemplate, TemplatesThatCannotTakeTheRecordsAreRefusedAtOpen) {
    vx::test::TempDir dir;
    writeFile(dir.file("none.glabels"), glabelsDocument("", "<Layout nx=\"1\" ny=\"1\"/>"));
    writeFile(dir.file("nokeys.glabels"),
              glabelsDocument("<Merge type=\"Text/Comma\"/>", "<Layout nx=\"1\" ny=\"1\"/>"));
    writeFile(dir.file("other.glabels"), "<html>not a label</html>");
    writeFile(dir.file("broken.glabels"), std::string("\x1f\x8b\x08garbage", 11));
    for (const char* name :
         {"none.glabels", "nokeys.glabels", "other.glabels", "broken.glabels", "missing.glabels"})
        EXPECT_THROW(readGLabelsTemplate(dir.file(name)), PrintError) << name;
    try {
        readGLabelsTemplate(dir.file("nokeys.glabels"));
    } catch (const PrintError& e) {
        EXPECT_NE(std::string(e.what()).find("Text/Comma/Line1Keys"), std::string::npos);
    }
}

TEST(GLabelsTemplate, AFieldTheStationDoesNotFillIsRefusedAtOpenByName) {
    // gLabels would print such a field empty, a bar code with no code.
    vx::test::TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"<Object-barcode x=\"0pt\" y=\"0pt\" w=\"60pt\" h=\"30pt\" style=\"Code128\" "
         "field=\"sjy-code\"/>",
         "sjy-code"},
        {"<Object-text x=\"0pt\" y=\"0pt\" w=\"60pt\" h=\"14pt\"><Span>Lot <Field "
         "name=\"lot\"/></Span></Object-text>",
         "lot"},
        {"<Object-image x=\"0pt\" y=\"0pt\" w=\"9pt\" h=\"9pt\" field=\"picture\"/>", "picture"},
        {"<Object-box x=\"0pt\" y=\"0pt\" w=\"9pt\" h=\"9pt\" fill_color_field=\"colour\"/>",
         "colour"},
    };
    for (const auto& [object, field] : cases) {
        writeFile(dir.file("t.glabels"), labelWith(object));
        try {
            readGLabelsTemplate(dir.file("t.glabels"));
            ADD_FAILURE() << "accepted: " << object;
        } catch (const PrintError& e) {
            EXPECT_NE(std::string(e.what()).find("merges the field " + field +
                                                 ", which the station does not fill"),
                      std::string::npos)
                << e.what();
        }
    }
    writeFile(dir.file("t.glabels"), labelWith(kTextOnly));
    EXPECT_NO_THROW(readGLabelsTemplate(dir.file("t.glabels")));
}

TEST(GLabelsMergeData, FieldsAreQuotedWithBackslashAndQuoteEscaped) {
    EXPECT_EQ(mergeField("plain"), "\"plain\"");
    EXPECT_EQ(mergeField("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(mergeField("x,y\nz"), "\"x,y\nz\"");
    EXPECT_EQ(mergeField(""), "\"\"");
    EXPECT_EQ(mergeData({{"1", "a", ""}}, '\t'),
              "\"sjy-bh\"\t\"sjy-tt\"\t\"sjy-pic\"\n\"1\"\t\"a\"\t\"\"\n");
}
