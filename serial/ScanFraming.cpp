#include "serial/ScanFraming.h"

#include "serial/ComDevice.h"

#include <algorithm>

namespace vx::serial {

using std::chrono::microseconds;
using std::chrono::milliseconds;

FramingRules framingRulesFor(const DeviceControlBlock& dcb, int inputSize) {
    // A start bit, the data bits, the parity bit and the stop bits (one and
    // a half counted as two).
    const std::int64_t bits = 1 + dcb.ByteSize + (dcb.Parity != 0 ? 1 : 0) + (dcb.StopBits ? 2 : 1);
    const std::int64_t baud = dcb.BaudRate ? dcb.BaudRate : 9600;
    const microseconds byteTime((bits * 1000000 + baud - 1) / baud);
    FramingRules rules;
    rules.terminatorSilence = std::max<microseconds>(milliseconds(kTerminatorSilenceMs),
                                                     kTerminatorSilenceBytes * byteTime);
    rules.quietGap = std::max<microseconds>(milliseconds(kQuietGapMs), kQuietGapBytes * byteTime);
    rules.limit = static_cast<std::size_t>(std::max(1, inputSize));
    return rules;
}

ScanFramer::ScanFramer(FramingRules rules) : m_rules(rules) {
    m_rules.limit = std::max<std::size_t>(1, m_rules.limit);
}

std::optional<ScanFramer::Time> ScanFramer::deadline() const {
    if (m_text.empty())
        return std::nullopt;
    switch (m_text.back()) {
    case '\n':
        return m_last + m_rules.terminatorSilence;
    case '\r':
        // An LF may still come; a byte other than LF after the silence ends
        // the scan earlier (see feed).
        return m_last +
               (m_crSuffix == CrSuffix::CrOnly ? m_rules.terminatorSilence : m_rules.quietGap);
    default:
        return m_last + m_rules.quietGap;
    }
}

void ScanFramer::feed(std::string_view bytes, Time at) {
    if (bytes.empty())
        return;
    if (!m_text.empty()) {
        const bool lateAfterCr = m_text.back() == '\r' &&
                                 at >= m_last + m_rules.terminatorSilence && bytes.front() != '\n';
        if (at >= *deadline() || lateAfterCr)
            endScan();
    }
    if (m_text.empty())
        learnFromNextBytes(bytes);
    m_text.append(bytes);
    while (m_text.size() >= m_rules.limit) {
        m_done.push_back(m_text.substr(0, m_rules.limit));
        m_text.erase(0, m_rules.limit);
    }
    m_last = at;
}

void ScanFramer::learnFromNextBytes(std::string_view bytes) {
    // An LF that opens a scan right after one that ended with CR is the
    // late half of a CR LF suffix: wait for it from now on.
    if (m_previousEndedWithCr && bytes.front() == '\n')
        m_crSuffix = CrSuffix::CrLf;
    m_previousEndedWithCr = false;
}

void ScanFramer::endScan() {
    if (m_text.empty())
        return;
    const bool endsWithCr = m_text.back() == '\r';
    if (m_text.size() >= 2 && m_text.compare(m_text.size() - 2, 2, "\r\n") == 0)
        m_crSuffix = CrSuffix::CrLf;
    else if (endsWithCr)
        m_crSuffix = CrSuffix::CrOnly;
    m_previousEndedWithCr = endsWithCr;
    m_done.push_back(std::move(m_text));
    m_text.clear();
}

void ScanFramer::collect(Time now, std::vector<std::string>& out) {
    if (!m_text.empty() && now >= *deadline())
        endScan();
    for (auto& scan : m_done)
        out.push_back(std::move(scan));
    m_done.clear();
}

void ScanFramer::flush(std::vector<std::string>& out) {
    endScan();
    collect(m_last, out);
}

void ScanFramer::clear() {
    m_text.clear();
    m_done.clear();
    m_crSuffix = CrSuffix::Unknown;
    m_previousEndedWithCr = false;
}

// ---- scans waiting for the user-interface thread --------------------------

void ReceivedScans::push(std::string scan, std::size_t limit) {
    if (scan.empty())
        return;
    std::lock_guard lock(m_mutex);
    while (!m_scans.empty() && m_bytes + scan.size() > limit) {
        m_bytes -= m_scans.front().size() - m_offset;
        m_scans.pop_front();
        m_offset = 0;
    }
    m_bytes += scan.size();
    m_scans.push_back(std::move(scan));
}

std::size_t ReceivedScans::nextLength() const {
    std::lock_guard lock(m_mutex);
    return m_scans.empty() ? 0 : m_scans.front().size() - m_offset;
}

std::size_t ReceivedScans::size() const {
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

std::string ReceivedScans::take(std::size_t count) {
    std::lock_guard lock(m_mutex);
    std::string out;
    while (count > 0 && !m_scans.empty()) {
        const std::string& front = m_scans.front();
        const std::size_t n = std::min(count, front.size() - m_offset);
        out.append(front, m_offset, n);
        m_offset += n;
        m_bytes -= n;
        count -= n;
        if (m_offset == front.size()) {
            m_scans.pop_front();
            m_offset = 0;
        }
    }
    return out;
}

void ReceivedScans::clear() {
    std::lock_guard lock(m_mutex);
    m_scans.clear();
    m_offset = 0;
    m_bytes = 0;
}

} // namespace vx::serial
