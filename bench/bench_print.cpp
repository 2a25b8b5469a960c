// Label printing on Linux, measured the way the station prints:
//  - a 10,000-label ZPL job to a label printer's port on the loopback (the
//    records from a15 on the worker's own connection, the shipped template,
//    every byte acknowledged), beside sending the same bytes alone, measured
//    in the same run; and the bytes a label takes;
//  - a 1,000-label job to PDF through gLabels (the records from a15 on the
//    worker's own connection, the shipped template, glabels-3-batch), beside
//    glabels-3-batch alone on the same merge data, measured in the same run;
//  - the time from Enter in the start box to the job handed to CUPS (lp has
//    returned: CUPS holds every label), for one label and for 1,000.
// CUPS is the private one of scripts/private-cups.sh: the bench starts its
// own unless CUPS_SERVER names one; the PDFs it prints are removed.

#include "bench/BenchSupport.h"
#include "data/ConnectionString.h"
#include "data/Database.h"
#include "data/RecordTable.h"
#include "print/DatabaseRecords.h"
#include "print/GLabelsBackend.h"
#include "print/PrintRange.h"
#include "print/PrintWorker.h"
#include "print/ZplBackend.h"
#include "tests/support/PrintedPdf.h"
#include "tests/support/Processes.h"
#include "tests/support/RawListener.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <unistd.h>

using namespace vx;
using namespace vx::bench;
using namespace std::chrono_literals;

namespace {

const std::string kTemplate = VEXORA_SOURCE_DIR "/print/templates/vexora-label.glabels";
const std::string kZplTemplate = VEXORA_SOURCE_DIR "/print/templates/vexora-label.zpl";
constexpr int kLabels = 1000;
constexpr int kZplLabels = 10000;

std::string code(const std::string& tag, int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%06d", i);
    return tag + buf;
}

void makeTable(const std::string& file, const std::string& tag) {
    data::Connection db;
    db.openWith(data::openSqliteBackend(file));
    data::Query q(db);
    for (const auto& l : data::RecordTable::createBatch(db.dialect(), "a15", true))
        q.add(l);
    q.execute();
    db.backend().beginTransaction();
    for (int i = 1; i <= std::max(kLabels, kZplLabels); ++i) {
        q.setText(data::RecordTable::insertText(db.dialect(), "a15"));
        q.setParam("a", code(tag, i));
        q.execute();
    }
    db.backend().commit();
}

// config.ini's lastnum in memory; Enter never asks here.
struct Host : print::PrintHost {
    std::string lastnum = "0";
    std::string readLastnum() override { return lastnum; }
    void writeLastnum(const std::string& v) override { lastnum = v; }
    bool confirmNotNext() override { return true; }
    void resetBatchCounter() override {}
};

struct Done : print::JobObserver {
    std::promise<print::JobOutcome> outcome;
    void finished(const print::JobParams&, const print::JobOutcome& o) override {
        outcome.set_value(o);
    }
};

// 10,000 labels through the ZPL back end to a listener on the loopback,
// from the records to the last byte acknowledged; then the same bytes sent
// alone. Best of three each, taken in turn, since the machine is shared.
bool benchZpl(print::JobParams job) {
    test::RawListener printer;
    job.lower = "1";
    job.upper = std::to_string(kZplLabels);
    job.templatePath = kZplTemplate;
    const print::RawDestination to = print::parseRawDestination(printer.destination(), false);
    double jobBest = 0, aloneBest = 0;
    std::size_t bytes = 0;
    for (int round = 0; round < 3; ++round) {
        print::ZplBackend backend(printer.destination(), "bench");
        print::DatabaseRecords records;
        const auto t0 = Clock::now();
        const print::JobOutcome o = print::runPrintJob(backend, records, job);
        const double s = ms(Clock::now() - t0) / 1000;
        if (!o.ok || o.sent != kZplLabels) {
            std::cerr << "bench_print: ZPL job: " << o.sent.value_or(-1) << " label(s) sent; "
                      << o.message << "\n";
            return false;
        }
        jobBest = std::max(jobBest, kZplLabels / s);
        bytes = backend.job().size();
        const auto t1 = Clock::now();
        const print::RawSendResult alone = print::sendRaw(to, backend.job(), "bench", {});
        const double s1 = ms(Clock::now() - t1) / 1000;
        if (!alone.ok) {
            std::cerr << "bench_print: raw send: " << alone.message << "\n";
            return false;
        }
        aloneBest = std::max(aloneBest, kZplLabels / s1);
    }
    // What was measured arrived: six jobs, each whole.
    if (!printer.waitJobs(6, std::chrono::seconds(30))) {
        std::cerr << "bench_print: the listener did not get every job\n";
        return false;
    }
    for (const std::string& got : printer.jobs()) {
        if (got.size() != bytes) {
            std::cerr << "bench_print: a job arrived with " << got.size() << " of " << bytes
                      << " bytes\n";
            return false;
        }
    }
    figure("zpl_job_10000_labels_to_loopback", jobBest, "labels/s");
    figure("zpl_send_alone_10000_labels_to_loopback", aloneBest, "labels/s");
    figure("zpl_bytes_per_label", static_cast<double>(bytes) / kZplLabels, "bytes");
    return true;
}

} // namespace

int main() {
    int rc = 0;
    test::TempDir dir;
    const std::string tag = "B" + std::to_string(::getpid()) + "N";
    makeTable(dir.file("station.db"), tag);

    print::JobParams job;
    job.templatePath = kTemplate;
    job.database = data::buildConnectionString({"station.db", "", "sa", ""});
    job.baseFolder = dir.folder();

    if (!benchZpl(job))
        return 1;

    test::run("command -v glabels-3-batch", &rc);
    if (rc != 0) {
        std::cerr << "bench_print: glabels-3-batch missing (scripts/install-deps.sh)\n";
        return 1;
    }

    // 1,000 labels to PDF: the job on the worker's records, lp left out;
    // then glabels-3-batch alone on the merge data the job wrote. Best of
    // three each, taken in turn, since the machine is shared.
    {
        job.lower = "1";
        job.upper = std::to_string(kLabels);
        double jobBest = 0, aloneBest = 0;
        for (int round = 0; round < 3; ++round) {
            print::GLabelsBackend backend("", "bench", {"glabels-3-batch", "true"});
            backend.keepFiles();
            print::DatabaseRecords records;
            const auto t0 = Clock::now();
            const print::JobOutcome o = print::runPrintJob(backend, records, job);
            const double s = ms(Clock::now() - t0) / 1000;
            if (!o.ok) {
                std::cerr << "bench_print: " << o.message << "\n";
                return 1;
            }
            jobBest = std::max(jobBest, kLabels / s);
            const std::string work =
                std::filesystem::path(backend.pdfPath()).parent_path().string();
            const auto t1 = Clock::now();
            test::run("glabels-3-batch -o '" + work + "/again.pdf' -i '" + work + "/labels.txt' '" +
                          kTemplate + "' >/dev/null 2>&1",
                      &rc);
            aloneBest = std::max(aloneBest, kLabels / (ms(Clock::now() - t1) / 1000));
            std::filesystem::remove_all(work);
        }
        figure("print_job_1000_labels_to_pdf", jobBest, "labels/s");
        figure("glabels_batch_alone_1000_labels_to_pdf", aloneBest, "labels/s");
    }

    // Enter to CUPS, with a private CUPS unless one is named.
    std::string cups;
    if (!std::getenv("CUPS_SERVER")) {
        // Not under the bench's own temporary folder: the lp user must reach it.
        cups = "/tmp/vexora-bench-cups-" + std::to_string(::getpid());
        const std::string env = test::run(
            "bash " VEXORA_SOURCE_DIR "/scripts/private-cups.sh start '" + cups + "'", &rc);
        if (rc != 0) {
            std::cerr << "bench_print: no CUPS could be started\n";
            return 1;
        }
        for (const char* key :
             {"CUPS_SERVER", "CUPS_USER", "VEXORA_TEST_CUPS_QUEUE", "VEXORA_TEST_PDF_DIR"}) {
            const std::string k = std::string("export ") + key + "='";
            const std::size_t p = env.find(k);
            if (p != std::string::npos)
                ::setenv(
                    key,
                    env.substr(p + k.size(), env.find('\'', p + k.size()) - p - k.size()).c_str(),
                    1);
        }
    }
    std::string why;
    const auto chain = test::PrintChain::fromEnvironment(why);
    if (!chain) {
        std::cerr << "bench_print: " << why << "\n";
        return 1;
    }
    print::BackendFactory backends;
    backends.add(".glabels", [&](const print::JobParams& j) {
        return std::make_unique<print::GLabelsBackend>(chain->queue, "bench " + j.rangeText());
    });
    print::PrintWorker worker(backends, [] { return std::make_unique<print::DatabaseRecords>(); });
    auto done = std::make_shared<Done>();
    worker.addObserver(done);
    print::PrintState state;
    Host host;
    for (const auto& [name, text, last] :
         {std::tuple{"enter_to_cups_1_label", std::string("1"), 1},
          std::tuple{"enter_to_cups_1000_labels", "2-" + std::to_string(kLabels), kLabels}}) {
        done->outcome = {};
        auto outcome = done->outcome.get_future();
        const auto t0 = Clock::now();
        const print::RangeOutcome r = state.Edit_willprnEnter(text, host);
        print::JobParams j = job;
        j.lower = r.dispatch->lower;
        j.upper = r.dispatch->upper;
        worker.start(j);
        const print::JobOutcome o = outcome.get();
        const double t = ms(Clock::now() - t0);
        if (!o.ok) {
            std::cerr << "bench_print: " << o.message << "\n";
            return 1;
        }
        figure(name, t, "ms");
        const std::string pdf = test::waitForPrintedPdf(chain->pdfDir, code(tag, last), 120s);
        if (!pdf.empty())
            std::filesystem::remove(pdf);
    }
    worker.close(60s);
    if (!cups.empty())
        test::run("bash " VEXORA_SOURCE_DIR "/scripts/private-cups.sh stop '" + cups + "'");
    return 0;
}
