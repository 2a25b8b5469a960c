// Raw print jobs on Windows: a socket to the printer's port, a port or shared
// printer written directly, or an installed printer through the spooler with
// the RAW data type.

#include "data/SystemMessage.h"
#include "print/PrintJob.h"
#include "print/RawSend.h"

#include <algorithm>
#include <cstdio>

// winsock2.h before windows.h, which would bring the old winsock.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winspool.h>
// clang-format on

namespace vx::print {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string systemText(DWORD code) {
    std::string out = data::platform::systemMessage(code);
    while (!out.empty() && out.back() == '.')
        out.pop_back();
    char number[24];
    std::snprintf(number, sizeof number, " (error %lu)", static_cast<unsigned long>(code));
    return (out.empty() ? std::string("system error") : out) + number;
}

std::string seconds(milliseconds d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", static_cast<double>(d.count()) / 1000.0);
    return buf;
}

// Sets what the printer took and says it: known on a device, where what was
// written was taken; on a socket only as long as nothing was handed to the
// network, which takes bytes whether or not the printer does.
std::string tookOf(RawSendResult& r, std::size_t passed, std::size_t total, bool known) {
    r.reached = passed;
    if (known || passed == 0) {
        r.accepted = passed;
        return "; it took " + std::to_string(passed) + " of " + std::to_string(total) + " bytes";
    }
    r.accepted.reset();
    return "; how much of it the printer took is unknown (" + std::to_string(passed) + " of " +
           std::to_string(total) + " bytes were handed to the network)";
}

timeval timevalOf(milliseconds d) {
    const long long ms = std::max<long long>(d.count(), 0);
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return tv;
}

milliseconds leftUntil(Clock::time_point deadline) {
    return std::max(milliseconds(0),
                    std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

class Winsock {
public:
    Winsock() { m_error = WSAStartup(MAKEWORD(2, 2), &m_data); }
    ~Winsock() {
        if (m_error == 0)
            WSACleanup();
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    int error() const { return m_error; }

private:
    WSADATA m_data{};
    int m_error = 0;
};

class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : m_s(s) {}
    ~Socket() {
        if (m_s != INVALID_SOCKET)
            closesocket(m_s);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_s; }
    SOCKET release() {
        const SOCKET s = m_s;
        m_s = INVALID_SOCKET;
        return s;
    }

private:
    SOCKET m_s;
};

// Waits until the socket can be written or has failed; 0 on time out.
int waitWritable(SOCKET s, milliseconds timeout, bool& failed) {
    fd_set writable, broken;
    FD_ZERO(&writable);
    FD_ZERO(&broken);
    FD_SET(s, &writable);
    FD_SET(s, &broken);
    timeval tv = timevalOf(timeout);
    const int ready = select(0, nullptr, &writable, &broken, &tv);
    failed = ready > 0 && FD_ISSET(s, &broken);
    return ready;
}

int socketError(SOCKET s) {
    int err = 0;
    int len = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return WSAGetLastError();
    return err;
}

} // namespace

namespace raw {

RawSendResult sendSocket(const RawDestination& d, const std::string& bytes, const RawTimeouts& t) {
    RawSendResult r;
    const std::string where = d.describe();
    Winsock winsock;
    if (winsock.error() != 0) {
        r.message = "cannot start Windows sockets: " + systemText(winsock.error());
        return r;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (const int rc = getaddrinfo(d.host.c_str(), d.port.c_str(), &hints, &list); rc != 0) {
        r.message = "cannot find the host \"" + d.host + "\": " + systemText(rc);
        return r;
    }
    SOCKET connected = INVALID_SOCKET;
    std::string why = "no address to connect to";
    const auto connectBy = Clock::now() + t.connect;
    for (addrinfo* a = list; a && connected == INVALID_SOCKET; a = a->ai_next) {
        Socket s(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (s.get() == INVALID_SOCKET) {
            why = systemText(WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s.get(), FIONBIO, &nonBlocking);
        int err = 0;
        if (connect(s.get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            err = WSAGetLastError();
            if (err == WSAEWOULDBLOCK) {
                bool failed = false;
                const int ready = waitWritable(s.get(), leftUntil(connectBy), failed);
                err = ready == 0 ? WSAETIMEDOUT : ready < 0 ? WSAGetLastError() : 0;
                if (failed)
                    err = socketError(s.get());
            }
        }
        if (err == 0) {
            connected = s.release();
            break;
        }
        why = err == WSAETIMEDOUT ? "no answer within " + seconds(t.connect) : systemText(err);
        if (Clock::now() >= connectBy)
            break;
    }
    freeaddrinfo(list);
    Socket sock(connected);
    if (sock.get() == INVALID_SOCKET) {
        r.message = "cannot connect to " + where + ": " + why;
        return r;
    }

    auto lastProgress = Clock::now();
    std::size_t handed = 0;
    while (handed < bytes.size()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - handed, 1 << 20));
        const int n = send(sock.get(), bytes.data() + handed, chunk, 0);
        if (n > 0) {
            handed += static_cast<std::size_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        const int err = WSAGetLastError();
        if (err != WSAEWOULDBLOCK) {
            r.message = where + ": " + systemText(err) + tookOf(r, handed, bytes.size(), false);
            return r;
        }
        const milliseconds left = leftUntil(lastProgress + t.stall);
        bool failed = false;
        const int ready = left.count() == 0 ? 0 : waitWritable(sock.get(), left, failed);
        if (ready == 0) {
            r.message = where + ": it took nothing for " + seconds(t.stall) +
                        " (the printer stopped reading: paper out, head open, or paused?)" +
                        tookOf(r, handed, bytes.size(), false);
            return r;
        }
        if (ready < 0 || failed) {
            r.message = where + ": " +
                        systemText(ready < 0 ? WSAGetLastError() : socketError(sock.get())) +
                        tookOf(r, handed, bytes.size(), false);
            return r;
        }
    }
    shutdown(sock.get(), SD_SEND);
    r.ok = true;
    r.accepted = r.reached = handed;
    return r;
}

} // namespace raw

namespace {

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~Handle() {
        if (m_h && m_h != INVALID_HANDLE_VALUE)
            CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

} // namespace

namespace raw {

// A port, a shared printer or a file, written with overlapped writes so a
// printer that stops taking data cannot hold the job past the stall time.
RawSendResult sendDevice(const RawDestination& d, const std::string& bytes, const RawTimeouts& t) {
    RawSendResult r;
    // Never created: a mistyped name must not become a file.
    Handle device(CreateFileA(d.name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!device.valid()) {
        r.message = "cannot open " + d.name + ": " + systemText(GetLastError());
        return r;
    }
    Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) {
        r.message = "cannot make an event: " + systemText(GetLastError());
        return r;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1 << 16));
        OVERLAPPED ov{};
        // Appended to a file, as a printer takes one job after another;
        // devices ignore the offset.
        ov.Offset = 0xFFFFFFFF;
        ov.OffsetHigh = 0xFFFFFFFF;
        ov.hEvent = event.get();
        ResetEvent(event.get());
        DWORD done = 0;
        if (!WriteFile(device.get(), bytes.data() + written, chunk, nullptr, &ov)) {
            const DWORD err = GetLastError();
            if (err != ERROR_IO_PENDING) {
                r.message =
                    d.name + ": " + systemText(err) + tookOf(r, written, bytes.size(), true);
                return r;
            }
            const DWORD stallMs =
                static_cast<DWORD>(std::min<long long>(t.stall.count(), 0x7FFFFFFF));
            if (WaitForSingleObject(event.get(), stallMs) == WAIT_TIMEOUT) {
                CancelIoEx(device.get(), &ov);
                GetOverlappedResult(device.get(), &ov, &done, TRUE);
                written += done;
                r.message = d.name + ": it took nothing for " + seconds(t.stall) +
                            " (the printer stopped reading: paper out, head open, or paused?)" +
                            tookOf(r, written, bytes.size(), true);
                return r;
            }
        }
        if (!GetOverlappedResult(device.get(), &ov, &done, TRUE)) {
            r.message =
                d.name + ": " + systemText(GetLastError()) + tookOf(r, written, bytes.size(), true);
            return r;
        }
        if (done == 0) {
            r.message = d.name + ": it takes no more data" + tookOf(r, written, bytes.size(), true);
            return r;
        }
        written += done;
    }
    r.ok = true;
    r.accepted = r.reached = written;
    return r;
}

// An installed printer: the job goes to its spooler as one RAW document,
// which the spooler drops again if any part of it failed.
RawSendResult sendQueue(const RawDestination& d, const std::string& bytes, const std::string& title,
                        const RawTimeouts&) {
    RawSendResult r;
    std::string name = d.name;
    if (name.empty()) {
        DWORD size = 0;
        GetDefaultPrinterA(nullptr, &size);
        std::string buf(size, '\0');
        if (size == 0 || !GetDefaultPrinterA(buf.data(), &size)) {
            r.message = "no default printer: " + systemText(GetLastError());
            return r;
        }
        name = buf.c_str();
    }
    HANDLE printer = nullptr;
    if (!OpenPrinterA(name.data(), &printer, nullptr)) {
        r.message = "cannot open the printer \"" + name + "\": " + systemText(GetLastError());
        return r;
    }
    std::string docName = title, dataType = "RAW";
    DOC_INFO_1A doc{};
    doc.pDocName = docName.data();
    doc.pOutputFile = nullptr;
    doc.pDatatype = dataType.data();
    std::size_t written = 0;
    std::string failure;
    if (StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc)) == 0) {
        failure = "cannot start a document: " + systemText(GetLastError());
    } else {
        while (written < bytes.size()) {
            DWORD done = 0;
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1 << 20));
            if (!WritePrinter(printer, const_cast<char*>(bytes.data() + written), chunk, &done) ||
                done == 0) {
                failure = "the spooler took no more data: " + systemText(GetLastError());
                break;
            }
            written += done;
        }
        if (failure.empty() && !EndDocPrinter(printer))
            failure = "the spooler did not take the document: " + systemText(GetLastError());
        if (!failure.empty())
            AbortPrinter(printer); // nothing of a broken job is printed
    }
    ClosePrinter(printer);
    if (!failure.empty()) {
        r.message = "printer \"" + name + "\": " + failure;
        return r;
    }
    r.ok = true;
    r.accepted = r.reached = bytes.size();
    return r;
}

} // namespace raw

} // namespace vx::print
