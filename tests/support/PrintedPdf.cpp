#include "tests/support/PrintedPdf.h"

#include "tests/support/Processes.h"

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

} // namespace vx::test
