// The ZPL back end: the template check, the labels it renders byte for byte,
// values that try to be commands, and the job sent raw to a socket on the
// loopback, to a device, and to a CUPS queue.

#include "print/Backends.h"
#include "print/ErrorLog.h"
#include "print/ListRecords.h"
#include "print/PrintWorker.h"
#include "print/ZplBackend.h"
#include "tests/support/PrintedPdf.h"
#include "tests/support/Processes.h"
#include "tests/support/RawListener.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZplReader.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vx::print;
using namespace std::chrono_literals;
using vx::test::readFile;
using vx::test::writeFile;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kShipped = VEXORA_SOURCE_DIR "/print/templates/vexora-label.zpl";

// One label of the shipped template as the printer gets it; the values as
// they appear escaped.
std::string shippedLabel(const std::string& bh, const std::string& tt, const std::string& pic) {
    return "^XA\n^CI28\n^PW400\n^LL240\n^LH0,0\n"
           "^FO16,16^A0N,30,30^FH_^FDNo. " +
           bh + "^FS\n^FO16,56^BY1,3,100^BCN,100,Y,N,N,A^FH_^FD" + tt +
           "^FS\n^FO16,204^A0N,20,20^FH_^FD" + pic + "^FS\n^XZ\n";
}

std::string code(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "VX%06d", i);
    return buf;
}

std::vector<LabelRecord> numbered(int n, const std::vector<std::string>& pictures = {}) {
    std::vector<LabelRecord> out;
    for (int i = 1; i <= n; ++i)
        out.push_back({std::to_string(i), code(i),
                       i - 1 < static_cast<int>(pictures.size()) ? pictures[i - 1] : ""});
    return out;
}

JobParams range(int lower, int upper, const std::string& templatePath = kShipped) {
    JobParams j;
    j.lower = std::to_string(lower);
    j.upper = std::to_string(upper);
    j.templatePath = templatePath;
    return j;
}

const RawTimeouts kShort{1000ms, 1000ms, 30000ms, {}};

// A job ended under the print worker, as the station runs it, with the
// error log beside it.
struct Ended : JobObserver {
    JobOutcome outcome;
    void finished(const JobParams&, const JobOutcome& o) override { outcome = o; }
};

struct WorkerRun {
    JobOutcome outcome;
    std::string log;
    Clock::duration took{};
};

WorkerRun runOnWorker(const std::string& printer, std::vector<LabelRecord> records,
                      const JobParams& job, const vx::test::TempDir& dir,
                      RawTimeouts timeouts = kShort) {
    BackendFactory f;
    f.add(".zpl", [timeouts](const JobParams& j) {
        return std::make_unique<ZplBackend>(j.printer, "Vexora " + j.rangeText(), timeouts);
    });
    auto ended = std::make_shared<Ended>();
    WorkerRun out;
    const auto t0 = Clock::now();
    {
        PrintWorker worker(f, [records] { return std::make_unique<ListRecords>(records); });
        worker.addObserver(
            std::make_shared<ErrorLog>(dir.file("error.log"), [] { return std::string("T"); }));
        worker.addObserver(ended);
        JobParams j = job;
        j.printer = printer;
        EXPECT_TRUE(worker.start(j));
        EXPECT_TRUE(worker.waitIdle(120s));
    }
    out.took = Clock::now() - t0;
    out.outcome = ended->outcome;
    if (std::filesystem::exists(dir.file("error.log")))
        out.log = readFile(dir.file("error.log"));
    return out;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The error log's count of labels sent, from "N of M label(s) sent".
int loggedSent(const std::string& log) {
    const std::size_t p = log.find(" failed; ");
    return p == std::string::npos ? -1 : std::atoi(log.c_str() + p + 9);
}

} // namespace

// ---- the template, checked at open -----------------------------------------

TEST(ZplTemplateCheck, TheShippedTemplateOpensAndIsChosenByItsExtension) {
    EXPECT_NO_THROW(ZplTemplate::read(kShipped));
    EXPECT_EQ(platformBackends().make(range(1, 1, "/x/Label.ZPL"))->name(), "ZPL");
#ifndef _WIN32
    EXPECT_EQ(templateFilter(platformBackends()),
              "标签模板 (*.glabels *.zpl)|*.glabels;*.zpl|所有文件 (*.*)|*.*");
#endif
}

TEST(ZplTemplateCheck, TemplatesThatAreNotOneCleanFormatAreRefusedWithTheReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "holds no label format"},
        {" \r\n", "holds no label format"},
        {"hello ^XA^FDx^FS^XZ", "text before ^XA: \"hello ^XA^FDx^FS^XZ\""},
        {"~JA^XA^FDx^FS^XZ", "text before ^XA"},
        {"^XA^FDx^FS", "no ^XZ ends the label format"},
        {"^XA^FD1^FS^XZ\n^XA^FD2^FS^XZ\n", "it holds 2 label formats"},
        {"^XA^FD1^FS^XZ ^JUS", "text after ^XZ: \"^JUS\""},
        {"^XA^FD1^XA^FD2^FS^XZ", "a second ^XA"},
        {"^XA^FD{sjy-bhx}^FS^XZ", "unknown placeholder {sjy-bhx}"},
        {"^XA^FD{SJY-TT}^FS^XZ", "unknown placeholder {SJY-TT}"},
        {"^XA^FO{sjy-bh},10^FDx^FS^XZ", "{sjy-bh} is outside field data"},
        {"^XA^CC+^FDx^FS^XZ", "^CC changes a command prefix"},
        {"^XA~CT#^FDx^FS^XZ", "~CT changes a command prefix"},
    };
    for (const auto& [text, reason] : cases) {
        try {
            ZplTemplate::parse(text, "t.zpl");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const PrintError& e) {
            EXPECT_TRUE(contains(e.what(), reason)) << e.what() << "\nfor: " << text;
            EXPECT_TRUE(contains(e.what(), "\"t.zpl\"")) << e.what();
        }
    }
    try {
        ZplTemplate::parse("^XA\r\n^FO1,1\r\n^FD{nope}^FS\r\n^XZ\r\n", "t.zpl");
        ADD_FAILURE();
    } catch (const PrintError& e) {
        EXPECT_TRUE(contains(e.what(), "line 3: unknown placeholder {nope}")) << e.what();
    }
    EXPECT_THROW(ZplTemplate::read("/no/such/template.zpl"), PrintError);
}

TEST(ZplTemplateCheck, DesignerExportsCommentsAndBracesThatAreNoPlaceholdersAreAccepted) {
    // Prefixes set to what they are, a comment naming a placeholder, a
    // byte order mark, and braces that hold no name.
    EXPECT_NO_THROW(ZplTemplate::parse("\xEF\xBB\xBF^XA~CC^~CT~^CD,^FX uses {sjy-bh} and {x}\n"
                                       "^FO0,0^FD{ a } {} {sjy-bh^FS^XZ\n",
                                       "t.zpl"));
}

TEST(ZplTemplateCheck, AJobWithABrokenTemplateFailsAtOpenAndTheLogNamesThePlaceholder) {
    vx::test::TempDir dir;
    writeFile(dir.file("bad.zpl"), "^XA^FO0,0^FD{sjy-code}^FS^XZ\n");
    writeFile(dir.file("out.prn"), "");
    const WorkerRun r =
        runOnWorker(dir.file("out.prn"), numbered(3), range(1, 3, dir.file("bad.zpl")), dir);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_EQ(r.outcome.labels, 0);
    EXPECT_TRUE(contains(r.log, "print job 1-3 failed; 0 of 0 label(s) sent")) << r.log;
    EXPECT_TRUE(contains(r.log, "back end ZPL: the ZPL template")) << r.log;
    EXPECT_TRUE(contains(r.log, "unknown placeholder {sjy-code}")) << r.log;
    EXPECT_EQ(readFile(dir.file("out.prn")), "");
}

// ---- the labels, byte for byte ---------------------------------------------

class ZplLabels : public ::testing::Test {
protected:
    // Prints to a plain file as the device, which keeps every byte sent.
    JobOutcome print(std::vector<LabelRecord> records, const JobParams& job) {
        writeFile(out, "");
        ZplBackend backend(out, "test");
        ListRecords source(std::move(records));
        return runPrintJob(backend, source, job);
    }
    vx::test::TempDir dir;
    std::string out = dir.file("printer.out");
};

TEST_F(ZplLabels, FiveRecordsWithoutPicturesAreFiveFormatsWithNumberAndCode) {
    const JobOutcome o = print(numbered(7), range(2, 6));
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.sent, 5);
    std::string expected;
    for (int i = 2; i <= 6; ++i)
        expected += shippedLabel(std::to_string(i), code(i), "");
    EXPECT_EQ(readFile(out), expected);
}

TEST_F(ZplLabels, PicturesAreEscapedAndAPictureStaysUntilTheNextOneIsSet) {
    const JobOutcome o =
        print(numbered(5, {"/p/a_00001.png", "", "D:\\lab\\a_00003.png", "", "/p/a_00005.png"}),
              range(1, 5));
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(readFile(out), shippedLabel("1", code(1), "/p/a_5F00001.png") +
                                 shippedLabel("2", code(2), "/p/a_5F00001.png") +
                                 shippedLabel("3", code(3), "D:_5Clab_5Ca_5F00003.png") +
                                 shippedLabel("4", code(4), "D:_5Clab_5Ca_5F00003.png") +
                                 shippedLabel("5", code(5), "/p/a_5F00005.png"));
}

TEST_F(ZplLabels, TheTemplatesOwnFieldTextKeepsItsMeaningBesideTheValues) {
    // A field without ^FH gets one, and its own '_' is escaped to stay a '_';
    // a field with ^FH\ keeps its escapes and the value is escaped with '\'.
    writeFile(dir.file("own.zpl"), "^XA\r\n^FO0,0^FDLot_A {sjy-tt}^FS\r\n"
                                   "^FO0,40^FH\\^FD\\7E{sjy-tt}^FS\r\n"
                                   "^FO0,80^FD{sjy-bh}{sjy-tt}^FS\r\n"
                                   "^FO0,120^FDLot_B^FS\r\n^XZ\r\n");
    const JobOutcome o = print({{"7", "a_b\\c", ""}}, range(7, 7, dir.file("own.zpl")));
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(readFile(out), "^XA\r\n^FO0,0^FH_^FDLot_5FA a_5Fb_5Cc^FS\r\n"
                             "^FO0,40^FH\\^FD\\7Ea_b\\5Cc^FS\r\n"
                             "^FO0,80^FH_^FD7a_5Fb_5Cc^FS\r\n"
                             "^FO0,120^FDLot_B^FS\r\n^XZ\r\n");
    std::string problem;
    const auto formats = vx::test::readZpl(readFile(out), problem);
    ASSERT_EQ(formats.size(), 1u) << problem;
    EXPECT_EQ(formats[0].fields,
              (std::vector<std::string>{"Lot_A a_b\\c", "~a_b\\c", "7a_b\\c", "Lot_B"}));
}

TEST_F(ZplLabels, AGreaterThanSignInACode128FieldIsEncodedNotReadAsAnInvocation) {
    // In Code 128 without a mode and in UCC/EAN mode, '>' and the byte after
    // it name a start code, a code change or FNC1; ">0" is the sign itself.
    // Automatic mode and UCC case mode take the data as it is, and so do text
    // fields. The template's own invocations (">;" here) are kept.
    writeFile(dir.file("bc.zpl"), "^XA\n^FO0,0^BCN,60^FD{sjy-tt}^FS\n"
                                  "^FO0,80^BC^FD>;12{sjy-bh}^FS\n"
                                  "^FO0,160^BCN,60,Y,N,N,A^FD{sjy-tt}^FS\n"
                                  "^FO0,240^BCN,60,Y,N,N,D^FD{sjy-tt}^FS\n"
                                  "^FO0,320^BCN,60,Y,N,N,U^FD{sjy-tt}^FS\n"
                                  "^FO0,400^A0N,20,20^FD{sjy-tt}^FS\n"
                                  "^FO0,440^FH\\^BCN,60^FD{sjy-tt}^FS\n"
                                  "^FO0,520^BY2^FD{sjy-tt}^FS\n^XZ\n");
    const JobOutcome o = print({{"7", "A>B>:C_~", ""}}, range(7, 7, dir.file("bc.zpl")));
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(readFile(out), "^XA\n^FO0,0^BCN,60^FH_^FDA>0B>0:C_5F_7E^FS\n"
                             "^FO0,80^BC^FH_^FD>;127^FS\n"
                             "^FO0,160^BCN,60,Y,N,N,A^FH_^FDA>B>:C_5F_7E^FS\n"
                             "^FO0,240^BCN,60,Y,N,N,D^FH_^FDA>0B>0:C_5F_7E^FS\n"
                             "^FO0,320^BCN,60,Y,N,N,U^FH_^FDA>B>:C_5F_7E^FS\n"
                             "^FO0,400^A0N,20,20^FH_^FDA>B>:C_5F_7E^FS\n"
                             "^FO0,440^FH\\^BCN,60^FDA>0B>0:C_\\7E^FS\n"
                             "^FO0,520^BY2^FH_^FDA>B>:C_5F_7E^FS\n^XZ\n");

    // With '0' as the indicator, the '0' of ">0" is itself written escaped,
    // or it would swallow the two characters after it as hex digits.
    writeFile(dir.file("zero.zpl"), "^XA^FO0,0^FH0^BCN,60^FD{sjy-tt}^FS^XZ\n");
    ASSERT_TRUE(print({{"7", ">12>", ""}}, range(7, 7, dir.file("zero.zpl"))).ok);
    EXPECT_EQ(readFile(out), "^XA^FO0,0^FH0^BCN,60^FD>03012>030^FS^XZ\n");

    // A field whose hex indicator is '>' could not tell the two apart.
    writeFile(dir.file("gt.zpl"), "^XA^FO0,0^FH>^BCN,60^FD{sjy-tt}^FS^XZ\n");
    EXPECT_THROW(ZplTemplate::read(dir.file("gt.zpl")), PrintError);
}

TEST_F(ZplLabels, AReversedRangeSendsNothing) {
    const JobOutcome o = print(numbered(5), range(4, 2));
    EXPECT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.sent, 0);
    EXPECT_EQ(readFile(out), "");
}

TEST_F(ZplLabels, HostileTextsStayDataAndEachFormatStaysOneLabel) {
    const std::vector<std::string> hostile = {
        "^XZ^XA^JUF",
        "~JR",
        "^",
        std::string("A\0B", 3),
        // 30 bytes of GBK: 中文标签打印扫描复核工作站测试
        "\xD6\xD0\xCE\xC4\xB1\xEA\xC7\xA9\xB4\xF2\xD3\xA1\xC9\xA8\xC3\xE8\xB8\xB4\xBA\xCB\xB9\xA4"
        "\xD7\xF7\xD5\xBE\xB2\xE2\xCA\xD4",
        "_5E_7E",
        "~DGR:X.GRF,2,1,FF\r\n^XZ",
        // DEL, which a printer may drop or act on, with a digit after it
        "DEL\x7F"
        "8",
    };
    // The bar code takes the ones Code 128 can carry (the others fail the
    // job, below); the picture's text field takes every one.
    auto code = [&](std::size_t i) {
        for (char c : hostile[i])
            if (c < 0x20 || c >= 0x7F)
                return "VX" + std::to_string(i);
        return hostile[i];
    };
    std::vector<LabelRecord> records;
    for (std::size_t i = 0; i < hostile.size(); ++i)
        records.push_back({std::to_string(i + 1), code(i), hostile[hostile.size() - 1 - i]});
    const JobOutcome o = print(records, range(1, static_cast<int>(records.size())));
    ASSERT_TRUE(o.ok) << o.message;

    // What the template alone makes: the commands of one label.
    std::string plain;
    ZplTemplate::read(kShipped).render({"1", "VX1", "p"}, plain);
    std::string problem;
    const auto reference = vx::test::readZpl(plain, problem);
    ASSERT_EQ(reference.size(), 1u) << problem;

    const auto formats = vx::test::readZpl(readFile(out), problem);
    EXPECT_EQ(problem, "");
    ASSERT_EQ(formats.size(), hostile.size()) << readFile(out);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const auto& f = formats[i];
        EXPECT_EQ(f.commands, reference[0].commands) << f.raw;
        EXPECT_EQ(f.tildeCommands, 0) << f.raw;
        ASSERT_EQ(f.fields.size(), 3u) << f.raw;
        EXPECT_EQ(f.fields[0], "No. " + std::to_string(i + 1));
        EXPECT_EQ(f.fields[1], code(i)) << f.raw;
        EXPECT_EQ(f.fields[2], hostile[hostile.size() - 1 - i]) << f.raw;
        for (char c : f.raw)
            EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F))
                << "byte " << int(c) << " in " << f.raw;
    }
}

TEST_F(ZplLabels, ACodeTextItsCode128BarCodeCannotCarryFailsTheJobBeforeAnythingIsSent) {
    // GBK and UTF-8 Chinese, control bytes and an empty text, each in the
    // middle of a range: the job names the record and why, and the printer
    // gets nothing, not even the labels before it.
    const std::pair<std::string, std::string> cases[] = {
        {"\xD6\xD0\xCE\xC4", "\\xD6\\xD0\\xCE\\xC4\" cannot go into the template's Code 128 bar "
                             "code: a byte beyond ASCII (\\xD6 at byte 1"},
        {"VX\xE4\xB8\xAD", "a byte beyond ASCII (\\xE4 at byte 3"},
        {"VX\r\n2", "\"VX\\x0D\\x0A2\" cannot go into the template's Code 128 bar code: a "
                    "control character (\\x0D at byte 3)"},
        {std::string("VX\x00\x32", 4), "a control character (\\x00 at byte 3)"},
        {"\x7F", "a control character (\\x7F at byte 1)"},
        {"", "it is empty"},
    };
    for (const auto& [text, why] : cases) {
        const JobOutcome o =
            print({{"1", "VX1", ""}, {"2", text, ""}, {"3", "VX3", ""}}, range(1, 3));
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.sent, 0);
        EXPECT_TRUE(contains(o.message, "record 2: the sjy-tt text \"")) << o.message;
        EXPECT_TRUE(contains(o.message, why)) << o.message;
        EXPECT_EQ(readFile(out), "") << "nothing is sent";
    }
    // Texts of other fields are data, escaped byte for byte.
    EXPECT_TRUE(print({{"1", "VX1", "\xD6\xD0\r\n"}}, range(1, 1)).ok);
    // In every mode of ^BC, not only those that read invocations.
    writeFile(dir.file("auto.zpl"), "^XA^FO0,0^BCN,60,Y,N,N,A^FD{sjy-tt}^FS^XZ\n");
    EXPECT_FALSE(print({{"1", "\xD6\xD0", ""}}, range(1, 1, dir.file("auto.zpl"))).ok);
}

TEST(ZplTemplateCheck, AnUnprintableCodeTextNamesItsRecordInTheErrorLog) {
    vx::test::TempDir dir;
    writeFile(dir.file("out.prn"), "");
    const WorkerRun r = runOnWorker(dir.file("out.prn"), {{"7", "VX7", ""}, {"8", "\xD6\xD0", ""}},
                                    range(7, 8), dir);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_TRUE(contains(r.log, "print job 7-8 failed; 0 of 1 label(s) sent")) << r.log;
    EXPECT_TRUE(contains(r.log, "record 8: the sjy-tt text")) << r.log;
    EXPECT_EQ(readFile(dir.file("out.prn")), "");
}

// ---- where the job goes ----------------------------------------------------

TEST(ZplDestinations, PrinterSettingsReadAsTheStationOfEachPlatformReadsThem) {
    struct Case {
        std::string text;
        bool windows;
        RawDestination::Kind kind;
        std::string described;
    };
    using K = RawDestination::Kind;
    const Case cases[] = {
        {"tcp://192.168.1.50:9100", false, K::Socket, "tcp://192.168.1.50:9100"},
        {" TCP://printer.local ", false, K::Socket, "tcp://printer.local:9100"},
        {"tcp://[fe80::1]:6101/", false, K::Socket, "tcp://[fe80::1]:6101"},
        {"/dev/usb/lp0", false, K::Device, "/dev/usb/lp0"},
        {"Zebra_ZT410", false, K::Queue, "print queue \"Zebra_ZT410\""},
        {"", false, K::Queue, "the default print queue"},
        {"LPT1", true, K::Device, "\\\\.\\LPT1"},
        {"com12:", true, K::Device, "\\\\.\\com12"},
        {"\\\\server\\zebra", true, K::Device, "\\\\server\\zebra"},
        {"C:\\labels\\out.prn", true, K::Device, "C:\\labels\\out.prn"},
        {"ZDesigner ZT410-203dpi", true, K::Queue, "print queue \"ZDesigner ZT410-203dpi\""},
        {"COMPUTER", true, K::Queue, "print queue \"COMPUTER\""},
        {"tcp://10.0.0.9:9100", true, K::Socket, "tcp://10.0.0.9:9100"},
    };
    for (const Case& c : cases) {
        const RawDestination d = parseRawDestination(c.text, c.windows);
        EXPECT_EQ(d.kind, c.kind) << c.text;
        EXPECT_EQ(d.describe(), c.described) << c.text;
    }
    for (const char* bad : {"tcp://", "tcp://:9100", "tcp://host:0", "tcp://host:65536",
                            "tcp://host:x", "tcp://fe80::1:9100", "tcp://[::1", "ipp://h/p/q"})
        EXPECT_THROW(parseRawDestination(bad, false), PrintError) << bad;
}

TEST(ZplSocket, AListenerOnTheLoopbackReceivesTheJobWholeInOrder) {
    vx::test::RawListener printer;
    ZplBackend backend(printer.destination(), "test", kShort);
    ListRecords records(numbered(3000));
    const JobOutcome o = runPrintJob(backend, records, range(1, 3000));
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.sent, 3000);
    ASSERT_TRUE(printer.waitJobs(1, 30s));
    const std::string got = printer.jobs().at(0);
    EXPECT_EQ(got.size(), backend.job().size());
    EXPECT_TRUE(got == backend.job()) << "the bytes differ";
    std::string problem;
    const auto formats = vx::test::readZpl(got, problem);
    EXPECT_EQ(problem, "");
    ASSERT_EQ(formats.size(), 3000u);
    EXPECT_EQ(formats[2999].fields[1], code(3000));
}

TEST(ZplSocket, ARefusedConnectionFailsTheJobAndTheLogSaysNothingWasTaken) {
    vx::test::TempDir dir;
    vx::test::ClosedPort closed;
    const WorkerRun r = runOnWorker(closed.destination(), numbered(5), range(1, 5), dir);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_EQ(r.outcome.sent, 0);
    EXPECT_TRUE(contains(r.log, "print job 1-5 failed; 0 of 5 label(s) sent")) << r.log;
    EXPECT_TRUE(
        contains(r.log, "cannot connect to " + closed.destination() + ": Connection refused"))
        << r.log;
    EXPECT_LT(r.took, kShort.connect + 10s);
}

TEST(ZplSocket, APrinterThatDoesNotAnswerFailsTheJobAfterTheConnectTime) {
    vx::test::TempDir dir;
    vx::test::RawListener::Options silent;
    silent.accept = false;
    vx::test::RawListener printer(silent);
    const WorkerRun r = runOnWorker(printer.destination(), numbered(5), range(1, 5), dir);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_TRUE(contains(r.log, "0 of 5 label(s) sent")) << r.log;
    EXPECT_TRUE(contains(r.log, "no answer within 1 s")) << r.log;
    EXPECT_GE(r.took, kShort.connect);
    EXPECT_LT(r.took, kShort.connect + 10s);
}

TEST(ZplSocket, APrinterThatStopsReadingFailsTheJobWithTheLabelsItTook) {
    vx::test::TempDir dir;
    vx::test::RawListener::Options stuck;
    stuck.receiveBuffer = 4096;
    stuck.stopReadingAfter = 20000;
    vx::test::RawListener printer(stuck);
    const WorkerRun r = runOnWorker(printer.destination(), numbered(4000), range(1, 4000), dir);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_TRUE(contains(r.log, "it took nothing for 1 s")) << r.log;
    // It read 20,000 bytes: as many whole labels at least, far from all.
    const int labelBytes = static_cast<int>(shippedLabel("1000", code(1000), "").size());
    const int sent = loggedSent(r.log);
    EXPECT_EQ(sent, r.outcome.sent);
    EXPECT_GE(sent, 20000 / labelBytes);
    EXPECT_LT(sent, 4000);
    EXPECT_TRUE(contains(r.log, std::to_string(sent) + " of 4000 label(s) sent")) << r.log;
    EXPECT_TRUE(
        contains(r.log, "the printer took " + std::to_string(sent) + " of 4000 label(s) whole"))
        << r.log;
    EXPECT_LT(r.took, kShort.stall + 10s);
}

// A printer that reads part of a job and closes the connection throws away
// what it had not read: the count the log gives must never be more than
// the labels it read, and where it cannot be known it says so.
TEST(ZplSocket, APrinterThatClosesMidJobIsNeverCreditedWithMoreLabelsThanItRead) {
    const int labelBytes = static_cast<int>(shippedLabel("1000", code(1000), "").size());
    for (const int receiveBuffer : {0, 4096}) {
        for (const int labelsRead : {132, 263, 1641}) {
            SCOPED_TRACE("reads " + std::to_string(labelsRead) + " labels, receive buffer " +
                         std::to_string(receiveBuffer));
            vx::test::TempDir dir;
            vx::test::RawListener::Options leaving;
            leaving.receiveBuffer = receiveBuffer;
            leaving.closeAfter = static_cast<std::size_t>(labelsRead * labelBytes + labelBytes / 2);
            vx::test::RawListener printer(leaving);
            const WorkerRun r =
                runOnWorker(printer.destination(), numbered(3000), range(1, 3000), dir);
            ASSERT_TRUE(printer.waitJobs(1, 10s));
            EXPECT_EQ(printer.received(), leaving.closeAfter);
            EXPECT_FALSE(r.outcome.ok);
            EXPECT_TRUE(
                contains(r.log, "print job 1-3000 failed; an unknown number of 3000 label(s) sent"))
                << r.log;
            EXPECT_FALSE(r.outcome.sent) << "the count cannot be known: " << *r.outcome.sent;
            EXPECT_TRUE(
                contains(r.log, "how many of the 3000 label(s) the printer took is unknown"))
                << r.log;
        }
    }
}

TEST(ZplSocket, ACancelWhileThePrinterIsSlowStopsTheSendAndCountsTheLabelsItTook) {
    vx::test::RawListener::Options stuck;
    stuck.receiveBuffer = 4096;
    stuck.stopReadingAfter = 20000;
    vx::test::RawListener printer(stuck);
    ZplBackend backend(printer.destination(), "test", {1000ms, 30000ms, 30000ms, {}});
    ListRecords records(numbered(4000));
    // The operator cancels once labels are being taken; the printer then
    // takes nothing more, long before the 30 s a stalled printer is given.
    std::atomic<int> taken{0};
    JobHooks hooks;
    hooks.progress = [&](int sent, int) { taken = sent; };
    hooks.cancelled = [&] { return taken > 0; };
    const auto t0 = Clock::now();
    const JobOutcome o = runPrintJob(backend, records, range(1, 4000), hooks);
    EXPECT_LT(Clock::now() - t0, 10s);
    EXPECT_TRUE(o.cancelled);
    EXPECT_FALSE(o.ok);
    ASSERT_TRUE(o.sent) << "what a printer that kept the connection acknowledged, it took";
    EXPECT_GE(*o.sent, 1);
    EXPECT_LT(*o.sent, 4000);
    EXPECT_TRUE(contains(o.message, "cancelled by the operator while sending; the printer took " +
                                        std::to_string(*o.sent) + " of 4000 label(s) whole"))
        << o.message;
}

// ---- devices ---------------------------------------------------------------

TEST(ZplDevice, AMissingDeviceFailsTheJobAndIsNotCreated) {
    vx::test::TempDir dir;
    const WorkerRun r = runOnWorker(dir.file("lp9"), numbered(2), range(1, 2), dir);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_TRUE(contains(r.log, "cannot open " + dir.file("lp9") + ": No such file or directory"))
        << r.log;
    EXPECT_FALSE(std::filesystem::exists(dir.file("lp9")));
}

TEST(ZplDevice, APrinterThatGoesAwayMidJobFailsTheJobAndTheStationLivesOn) {
    vx::test::TempDir dir;
    const std::string fifo = dir.file("lp0");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody reading: the device is not there.
    WorkerRun r = runOnWorker(fifo, numbered(2), range(1, 2), dir);
    EXPECT_TRUE(contains(r.log, "No such device or address")) << r.log;

    // A reader that takes 1,000 bytes and goes: writing on raises SIGPIPE,
    // which must not end the process.
    std::filesystem::remove(dir.file("error.log"));
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::thread leaving([reader] {
        std::size_t got = 0;
        char buf[500];
        while (got < 1000) {
            const ssize_t n = ::read(reader, buf, std::min(sizeof buf, 1000 - got));
            if (n > 0)
                got += static_cast<std::size_t>(n);
            else
                std::this_thread::sleep_for(1ms);
        }
        ::close(reader);
    });
    r = runOnWorker(fifo, numbered(3000), range(1, 3000), dir);
    leaving.join();
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_TRUE(contains(r.log, "Broken pipe")) << r.log;
    // What it left in the pipe unread was never taken.
    const int labelBytes = static_cast<int>(shippedLabel("1000", code(1000), "").size());
    EXPECT_EQ(r.outcome.sent, 1000 / labelBytes) << r.log;
}

// ---- CUPS ------------------------------------------------------------------

class ZplCups : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!vx::test::PrintChain::fromEnvironment(why)) {
            if (std::getenv("CI"))
                FAIL() << why;
            GTEST_SKIP() << why;
        }
    }
};

TEST_F(ZplCups, AQueueThatDoesNotExistFailsTheJobIntoTheErrorLog) {
    vx::test::TempDir dir;
    const WorkerRun r = runOnWorker("NoSuchZplQueue", numbered(2), range(1, 2), dir);
    EXPECT_FALSE(r.outcome.ok);
    EXPECT_EQ(r.outcome.sent, 0);
    EXPECT_TRUE(contains(r.log, "0 of 2 label(s) sent")) << r.log;
    EXPECT_TRUE(contains(r.log, "lp to print queue \"NoSuchZplQueue\" failed")) << r.log;
    EXPECT_TRUE(contains(r.log, "does not exist")) << r.log;
    EXPECT_LT(r.took, kShort.queue + 10s);
}

TEST_F(ZplCups, ARawQueueHandsTheJobUnchangedToThePrintersPort) {
    // A CUPS queue for a network label printer: the socket back end to its
    // port, here the listener on the loopback.
    vx::test::RawListener printer;
    const std::string queue = "VexoraZpl" + std::to_string(::getpid());
    int rc = 0;
    vx::test::run("lpadmin -p " + queue +
                      " -v socket://127.0.0.1:" + std::to_string(printer.port()) + " -E 2>&1",
                  &rc);
    ASSERT_EQ(rc, 0);
    ZplBackend backend(queue, "Vexora 1-20", kShort);
    ListRecords records(numbered(20));
    const JobOutcome o = runPrintJob(backend, records, range(1, 20));
    EXPECT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.sent, 20);
    EXPECT_TRUE(printer.waitJobs(1, 60s));
    vx::test::run("lpadmin -x " + queue);
    ASSERT_EQ(printer.jobs().size(), 1u);
    EXPECT_TRUE(printer.jobs()[0] == backend.job()) << printer.jobs()[0];
}

// ---- the print tool's own description --------------------------------------

TEST(ZplTool, TheHelpNamesEveryTemplateTypeThisStationPrintsAndWhereEachGoes) {
    int status = -1;
    const std::string help = vx::test::run(VEXORA_BIN_DIR "/vexora-btprint --help", &status);
    EXPECT_EQ(status, 0);
    for (const std::string& ext : platformBackends().extensions())
        EXPECT_TRUE(contains(help, ext)) << ext << " missing from\n" << help;
    EXPECT_TRUE(contains(help, "tcp://")) << "a ZPL printer's address";
    EXPECT_FALSE(contains(help, "gLabels only")) << help;
}
