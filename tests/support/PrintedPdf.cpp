#include "tests/support/PrintedPdf.h"

#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace vx::test {

namespace fs = std::filesystem;

std::optional<PrintChain> PrintChain::fromEnvironment(std::string& why) {
    const char* server = std::getenv("CUPS_SERVER");
    const char* queue = std::getenv("VEXORA_TEST_CUPS_QUEUE");
    const char* dir = std::getenv("VEXORA_TEST_PDF_DIR");
    if (!server || !queue || !dir) {
        why = "no private CUPS: run under scripts/test.sh, or eval \"$(scripts/private-cups.sh "
              "start DIR)\" first";
        return std::nullopt;
    }
    int rc = 0;
    run("command -v glabels-3-batch && command -v pdftotext && command -v zbarimg", &rc);
    if (rc != 0) {
        why = "glabels, poppler-utils or zbar-tools missing: run scripts/install-deps.sh";
        return std::nullopt;
    }
    return PrintChain{queue, dir};
}

std::string pdfText(const std::string& pdf) {
    return run("pdftotext -layout '" + pdf + "' - 2>/dev/null");
}

int pdfPages(const std::string& pdf) {
    const std::string info = run("pdfinfo '" + pdf + "' 2>/dev/null | sed -n 's/^Pages: *//p'");
    return std::atoi(info.c_str());
}

std::string waitForPrintedPdf(const std::string& dir, const std::string& marker,
                              std::chrono::milliseconds timeout,
                              std::filesystem::file_time_type notBefore) {
    std::string found;
    waitUntil(
        [&] {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(dir, ec)) {
                if (e.path().extension() != ".pdf" || e.last_write_time(ec) < notBefore)
                    continue;
                if (pdfText(e.path().string()).find(marker) != std::string::npos) {
                    found = e.path().string();
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

std::vector<std::string> pdfBarcodes(const std::string& pdf, const std::string& workDir) {
    const std::string prefix = workDir + "/page";
    run("pdftoppm -r 300 -png '" + pdf + "' '" + prefix + "'");
    std::vector<std::string> pages;
    for (const auto& e : fs::directory_iterator(workDir))
        if (e.path().filename().string().rfind("page", 0) == 0)
            pages.push_back(e.path().string());
    std::sort(pages.begin(), pages.end());
    std::vector<std::string> codes;
    for (const std::string& page : pages) {
        std::istringstream out(run("zbarimg -q --raw '" + page + "' 2>/dev/null"));
        std::string line;
        while (std::getline(out, line))
            if (!line.empty())
                codes.push_back(line);
    }
    return codes;
}

std::string decodePicture(const std::string& png, int enlarge) {
    const std::string picture =
        enlarge > 1 ? "pngtopnm '" + png + "' | pnmenlarge " + std::to_string(enlarge) + " | "
                    : "cat '" + png + "' | ";
    std::string out = run(picture + "zbarimg -q --raw - 2>/dev/null");
    // --raw ends each barcode's data with a line break of its own.
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

namespace {

// The files of dir whose names start with prefix, in name order.
std::vector<std::string> filesStarting(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

void removeFilesStarting(const std::string& dir, const std::string& prefix) {
    for (const std::string& f : filesStarting(dir, prefix))
        fs::remove(f);
}

} // namespace

std::vector<std::string> pdfBarcodesByPage(const std::string& pdf, const std::string& workDir,
                                           int dpi) {
    removeFilesStarting(workDir, "bypage");
    run("pdftoppm -r " + std::to_string(dpi) + " -gray -png '" + pdf + "' '" + workDir +
        "/bypage'");
    std::vector<std::string> codes;
    for (const std::string& page : filesStarting(workDir, "bypage"))
        codes.push_back(decodePicture(page));
    return codes;
}

std::optional<ZplRenderer> ZplRenderer::fromEnvironment(std::string& why) {
    int rc = 0;
    run("command -v node && command -v zbarimg && command -v pnmenlarge && test -f "
        "'" VEXORA_SOURCE_DIR "/tests/zpl-render/node_modules/zpl-renderer-js/package.json'",
        &rc);
    if (rc != 0) {
        why = "node, zbar-tools, netpbm or the npm package under tests/zpl-render missing: run "
              "scripts/install-deps.sh";
        return std::nullopt;
    }
    return ZplRenderer{};
}

std::vector<std::string> ZplRenderer::decode(const std::string& job, const std::string& workDir,
                                             double widthMm, double heightMm, int dotsPerMm) const {
    removeFilesStarting(workDir, "label-");
    const std::string file = workDir + "/render.zpl";
    writeFile(file, job);
    int rc = 0;
    run("node '" VEXORA_SOURCE_DIR "/tests/zpl-render/render.mjs' '" + file + "' '" + workDir +
            "/label' " + std::to_string(widthMm) + " " + std::to_string(heightMm) + " " +
            std::to_string(dotsPerMm) + " >/dev/null",
        &rc);
    std::vector<std::string> codes;
    if (rc != 0)
        return codes;
    for (const std::string& png : filesStarting(workDir, "label-"))
        codes.push_back(decodePicture(png, 3));
    return codes;
}

} // namespace vx::test
