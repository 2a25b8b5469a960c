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

// What zbarimg reads on one picture, byte for byte: the data of each barcode
// found, joined by line breaks; "" when it finds none. enlarge: each pixel
// made enlarge x enlarge first, as a scanner sees a printed dot.
std::string decodePicture(const std::string& png, int enlarge = 1);

// What zbarimg reads on each page of a PDF rendered at dpi, one entry a page.
std::vector<std::string> pdfBarcodesByPage(const std::string& pdf, const std::string& workDir,
                                           int dpi);

// ZPL jobs rendered by zebrash, a renderer nobody here wrote (the npm package
// zpl-renderer-js under tests/zpl-render, installed by
// scripts/install-deps.sh), and their barcodes read by zbarimg.
class ZplRenderer {
public:
    // Nothing when node, the package or zbarimg is missing; why says which.
    static std::optional<ZplRenderer> fromEnvironment(std::string& why);
    // One entry per label format of the job, in order: its barcodes as
    // decodePicture reads them from a rendering at dotsPerMm on a label of
    // the size given, each printer dot enlarged three times.
    std::vector<std::string> decode(const std::string& job, const std::string& workDir,
                                    double widthMm, double heightMm, int dotsPerMm = 8) const;
};

} // namespace vx::test
