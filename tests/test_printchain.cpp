// The whole Linux print chain for real: the print worker with the gLabels
// back end renders the shipped template with glabels-3-batch and hands the
// PDF to a real CUPS (scripts/private-cups.sh), whose cups-pdf queue writes
// what a printer would have printed. The labels are then read back as an
// operator's scanner would: their text and their barcodes.

#include "print/Backends.h"
#include "print/ErrorLog.h"
#include "print/ListRecords.h"
#include "print/PrintJournal.h"
#include "print/PrintWorker.h"
#include "tests/support/PrintedPdf.h"
#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vx::print;
using namespace std::chrono_literals;

namespace {

struct LastOutcome : JobObserver {
    JobOutcome outcome;
    void finished(const JobParams&, const JobOutcome& o) override { outcome = o; }
};

// The chain is part of what CI proves: there it must be present.
#define REQUIRE_PRINT_CHAIN(chain)                                                                 \
    std::string why;                                                                               \
    const auto chain = vx::test::PrintChain::fromEnvironment(why);                                 \
    if (!chain) {                                                                                  \
        if (std::getenv("CI"))                                                                     \
            FAIL() << why;                                                                         \
        GTEST_SKIP() << why;                                                                       \
    }

} // namespace

TEST(PrintChain, FiveRecordsPrintThroughGLabelsAndCupsAsFiveReadableLabels) {
    REQUIRE_PRINT_CHAIN(chain);
    vx::test::TempDir dir;
    // Codes no other run prints, so the PDF found is this test's.
    const std::string tag = "Q" + std::to_string(::getpid()) + "X";
    const std::string logo = VEXORA_SOURCE_DIR "/app/resources/img_logo.jpg";
    std::vector<LabelRecord> records;
    std::vector<std::string> codes;
    for (int i = 1; i <= 5; ++i) {
        codes.push_back(tag + std::to_string(i));
        records.push_back({std::to_string(i), codes.back(), i % 2 ? logo : ""});
    }

    JobParams job;
    job.lower = "1";
    job.upper = "5";
    job.templatePath = VEXORA_SOURCE_DIR "/print/templates/vexora-label.glabels";
    job.printer = chain->queue;
    auto last = std::make_shared<LastOutcome>();
    {
        PrintWorker worker(platformBackends(),
                           [&] { return std::make_unique<ListRecords>(records); });
        worker.addObserver(std::make_shared<ErrorLog>(dir.file("error.log")));
        worker.addObserver(last);
        ASSERT_TRUE(worker.start(job));
        ASSERT_TRUE(worker.waitIdle(120s));
    }
    ASSERT_TRUE(last->outcome.ok) << last->outcome.message;
    EXPECT_EQ(last->outcome.sent, 5);
    EXPECT_FALSE(std::filesystem::exists(dir.file("error.log")));

    const std::string pdf = vx::test::waitForPrintedPdf(chain->pdfDir, codes.front(), 60s);
    ASSERT_FALSE(pdf.empty()) << "no PDF from the cups-pdf queue in " << chain->pdfDir;
    const std::string text = vx::test::pdfText(pdf);
    EXPECT_EQ(vx::test::pdfPages(pdf), 5);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_NE(text.find("No. " + std::to_string(i)), std::string::npos) << text;
        EXPECT_NE(text.find(codes[i - 1]), std::string::npos) << text;
    }
    EXPECT_EQ(vx::test::pdfBarcodes(pdf, dir.path()), codes);
    std::filesystem::remove(pdf);
}

TEST(PrintChain, AQueueThatDoesNotExistFailsTheJobIntoTheErrorLog) {
    REQUIRE_PRINT_CHAIN(chain);
    vx::test::TempDir dir;
    JobParams job;
    job.lower = "1";
    job.upper = "1";
    job.templatePath = VEXORA_SOURCE_DIR "/print/templates/vexora-label.glabels";
    job.printer = "NoSuchQueue";
    auto last = std::make_shared<LastOutcome>();
    {
        PrintWorker worker(platformBackends(), [] {
            return std::make_unique<ListRecords>(std::vector<LabelRecord>{{"1", "VX1", ""}});
        });
        worker.addObserver(std::make_shared<ErrorLog>(dir.file("error.log")));
        worker.addObserver(last);
        worker.start(job);
        ASSERT_TRUE(worker.waitIdle(120s));
    }
    EXPECT_FALSE(last->outcome.ok);
    EXPECT_EQ(last->outcome.sent, 0);
    const std::string log = vx::test::readFile(dir.file("error.log"));
    EXPECT_NE(log.find("print job 1-1 failed"), std::string::npos) << log;
    EXPECT_NE(log.find("does not exist"), std::string::npos) << log;
}

// A disabled queue takes the job and holds it: the job did not fail, but it
// is not printed either, and its outcome says so. The queue is one of the
// test's own, so no other test's jobs wait in it.
TEST(PrintChain, ADisabledQueueHoldsTheJobAndTheOutcomeSaysQueuedNotPrinted) {
    REQUIRE_PRINT_CHAIN(chain);
    vx::test::TempDir dir;
    const std::string queue = "VexoraHeld" + std::to_string(::getpid());
    int rc = -1;
    vx::test::run("lpadmin -p " + queue +
                      " -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd -E 2>&1 && "
                      "cupsdisable " +
                      queue + " 2>&1",
                  &rc);
    ASSERT_EQ(rc, 0) << "cannot make a disabled queue";
    struct Remove {
        std::string queue;
        ~Remove() { vx::test::run("cancel -a " + queue + " 2>&1; lpadmin -x " + queue + " 2>&1"); }
    } remove{queue};

    for (const char* templatePath : {VEXORA_SOURCE_DIR "/print/templates/vexora-label.glabels",
                                     VEXORA_SOURCE_DIR "/print/templates/vexora-label.zpl"}) {
        SCOPED_TRACE(templatePath);
        std::filesystem::remove(dir.file("error.log"));
        JobParams job;
        job.lower = "1";
        job.upper = "2";
        job.templatePath = templatePath;
        job.printer = queue;
        auto last = std::make_shared<LastOutcome>();
        {
            PrintWorker worker(platformBackends(), [] {
                return std::make_unique<ListRecords>(
                    std::vector<LabelRecord>{{"1", "VX1", ""}, {"2", "VX2", ""}});
            });
            worker.addObserver(std::make_shared<ErrorLog>(dir.file("error.log")));
            worker.addObserver(last);
            ASSERT_TRUE(worker.start(job));
            ASSERT_TRUE(worker.waitIdle(120s));
        }
        const JobOutcome& o = last->outcome;
        EXPECT_TRUE(o.ok) << o.message;
        EXPECT_EQ(o.sent, 2);
        EXPECT_NE(o.held.find("\"" + queue + "\" is disabled"), std::string::npos) << o.held;
        const auto row = PrintJournal::outcomeEvent(job, o);
        EXPECT_EQ(row.what, "queued");
        EXPECT_EQ(row.message, o.held);
        const std::string log = vx::test::readFile(dir.file("error.log"));
        EXPECT_NE(log.find("print job 1-2 not printed; 2 of 2 label(s) held in the queue"),
                  std::string::npos)
            << log;
    }
    EXPECT_EQ(vx::test::run("lpstat -o " + queue + " | wc -l"), "2\n") << "both jobs wait";
}
