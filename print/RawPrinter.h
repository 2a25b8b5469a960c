#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace vx::print {

// Where a raw print job goes, as [print] printer names it:
//  - "tcp://HOST:PORT" (PORT defaults to 9100): a raw socket, the port label
//    printers listen on; HOST may be a name, an IPv4 address or [an IPv6 one];
//  - a device: on Linux a path ("/dev/usb/lp0"); on Windows "LPT1", "COM3",
//    a shared printer "\\host\share", any "\\.\" device or a "C:\" path;
//  - anything else names a print queue: on Linux a CUPS queue, the job sent
//    with lp -o raw ("" is the default destination); on Windows an installed
//    printer, the job spooled with the RAW data type.
struct RawDestination {
    enum class Kind { Socket, Device, Queue };
    Kind kind = Kind::Queue;
    std::string host, port; // Socket
    std::string name;       // Device: the path to open; Queue: the queue ("" = default)

    // The destination as the log shows it.
    std::string describe() const;
};

// Raises PrintError for a text that names no destination (a "tcp://" without
// a host, a port that is not one, a scheme other than tcp). windows: read it
// as the Windows station does.
RawDestination parseRawDestination(const std::string& text, bool windows);

// How long a raw send may wait. A job larger than what the printer buffers is
// taken in step with its printing, so the wait is for progress, not for the
// whole job.
struct RawTimeouts {
    std::chrono::milliseconds connect{5000}; // for the connection to be made
    std::chrono::milliseconds stall{30000};  // for any byte to be taken, while some remain
    std::chrono::milliseconds queue{60000};  // for lp to hand the job to CUPS
    // Told the bytes taken so far while a socket or a device is written on
    // Linux, at least every 100 ms; false stops the send (the operator cancelled).
    std::function<bool(std::size_t accepted)> watch;
};

struct RawSendResult {
    bool ok = false;
    bool cancelled = false; // stopped because watch said so
    // Bytes the printer took: acknowledged by its end of a connection that it
    // kept open (a socket on Linux), written to the device (less what a
    // pipe's reader left unread), or the whole job once the queue holds it.
    // Empty where that cannot be known: a printer that closes the connection
    // throws away what it had not read yet, and does not say how much that
    // was; on Windows, a socket that failed after bytes were handed to the
    // system's network stack.
    std::optional<std::size_t> accepted = 0;
    // Bytes that reached the printer's end at least in part: it took no more.
    std::size_t reached = 0;
    // A queue that took the job and holds it instead of printing it (a
    // disabled CUPS queue): why. Empty when it prints or nobody can tell.
    std::string held;
    std::string message; // why it failed; empty when ok
};

// Sends the bytes to the destination, whole: ok only when every byte was
// taken. title: the job's name in a print queue.
RawSendResult sendRaw(const RawDestination& destination, const std::string& bytes,
                      const std::string& title, const RawTimeouts& timeouts);

} // namespace vx::print
