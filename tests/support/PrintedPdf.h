#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vx::test {

// The private CUPS that scripts/private-cups.sh starts (scripts/test.sh runs
// every test with one): its queue and the folder its PDF printer writes to.
struct PrintChain {
    std::string queue, pdfDir;
    // Nothing when the environment names no such CUPS; why says what lacks.
    static std::optional<PrintChain> fromEnvironment(std::string& why);
};

// Waits for a PDF in dir, written at notBefore or later, whose text holds
// marker; its path, or "" after timeout.
std::string waitForPrintedPdf(
    const std::string& dir, const std::string& marker, std::chrono::milliseconds timeout,
    std::filesystem::file_time_type notBefore = std::filesystem::file_time_type::min());
std::string pdfText(const std::string& pdf);
int pdfPages(const std::string& pdf);
// Every barcode on the PDF's pages, as zbarimg reads them from 300 dpi
// renderings ("CODE-128:" and the like stripped), in page order.
std::vector<std::string> pdfBarcodes(const std::string& pdf, const std::string& workDir);

} // namespace vx::test
