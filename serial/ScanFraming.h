#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::serial {

struct DeviceControlBlock;

// A scanner's suffix byte ends a scan once the line has been silent this
// long after it: a few byte times (a byte takes 1.04 ms at 9600 baud), so a
// CR LF pair split between two reads stays together, and so do the line
// breaks inside a 2D code (QR, PDF417, DataMatrix), which the scanner
// follows with more bytes at once. The limit that remains: a device that
// hands over the bytes after an inner line break more than this later (a
// USB adapter whose flush timer fires exactly after it) cuts such a code
// in two.
constexpr int kTerminatorSilenceMs = 5;
// At slow baud rates the silence is at least this many byte times.
constexpr int kTerminatorSilenceBytes = 4;

// Without a suffix only a quiet line ends a scan. A scan reaches us in
// pieces: USB-serial adapters flush their buffers every 16 ms and a UART
// hands over its FIFO every 14 bytes, so the gap must be longer than that.
// Scans without a suffix that follow each other closer than this merge into
// one; a scanner read that fast needs a suffix. The same wait applies after
// a CR while the scanner may still send the LF of its CR LF suffix.
constexpr int kQuietGapMs = 30;
// At slow baud rates the gap is at least this many byte times.
constexpr int kQuietGapBytes = 20;

// The times and size that end a scan, for one line setting.
struct FramingRules {
    std::chrono::microseconds terminatorSilence{kTerminatorSilenceMs * 1000};
    std::chrono::microseconds quietGap{kQuietGapMs * 1000};
    // A stream that never falls quiet is cut into scans of this many bytes,
    // the size of the port's input queue.
    std::size_t limit = 1024;
};

// The rules for the line settings of dcb and an input queue of inputSize.
FramingRules framingRulesFor(const DeviceControlBlock& dcb, int inputSize);

// Cuts the bytes received from a scanner into scans. Bytes come with the
// time they were read; a scan ends at its suffix (CR or LF) once the line
// has been silent for the terminator silence, otherwise when it has been
// quiet for the gap, or when it reaches the limit. The suffix bytes stay
// part of the scan's text; bytes that come after the end start the next
// scan. Pure: it reads no clock; the caller asks for finished scans at the
// deadline it gives.
class ScanFramer {
public:
    using Time = std::chrono::microseconds; // since any fixed origin

    explicit ScanFramer(FramingRules rules = {});

    // Bytes read from the device at once, at the given time.
    void feed(std::string_view bytes, Time at);
    // Appends to out, in order, every scan that has ended by now.
    void collect(Time now, std::vector<std::string>& out);
    // Appends the scan in progress too: no more bytes can come.
    void flush(std::vector<std::string>& out);
    // When the scan in progress ends if nothing more comes; none when idle.
    std::optional<Time> deadline() const;
    // Forgets everything received, and what was learnt about the suffix.
    void clear();

private:
    // What the scanner sends after a CR, learnt from the scans so far. Until
    // a scan has shown it, a CR may still be followed by the LF of a CR LF
    // suffix that a USB adapter flushed late.
    enum class CrSuffix { Unknown, CrLf, CrOnly };

    void endScan();
    void learnFromNextBytes(std::string_view bytes);

    FramingRules m_rules;
    std::string m_text; // the scan in progress
    Time m_last{};      // when its last bytes were read
    CrSuffix m_crSuffix = CrSuffix::Unknown;
    bool m_previousEndedWithCr = false;
    std::vector<std::string> m_done;
};

// Scans framed by the event thread that the user-interface thread has not
// read yet; the two threads share it. At most limit bytes are kept: when a
// new scan does not fit, the oldest unread scans make room, as a full input
// queue drops what it cannot hold.
class ReceivedScans {
public:
    void push(std::string scan, std::size_t limit);
    // Unread bytes of the oldest scan; 0 when nothing is waiting.
    std::size_t nextLength() const;
    // Every unread byte.
    std::size_t size() const;
    // Takes up to count bytes, oldest first; they may span scans.
    std::string take(std::size_t count);
    void clear();

private:
    mutable std::mutex m_mutex;
    std::deque<std::string> m_scans;
    std::size_t m_offset = 0; // bytes of the front scan already read
    std::size_t m_bytes = 0;  // unread bytes in all
};

} // namespace vx::serial
