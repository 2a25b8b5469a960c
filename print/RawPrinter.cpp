// Reading [print] printer for raw jobs; the sending itself is per platform
// (RawPrinterPosix.cpp, RawPrinterWin32.cpp).

#include "print/RawPrinter.h"

#include "print/PrintJob.h"
#include "print/RawSend.h"

namespace vx::print {
namespace {

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

bool allDigits(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// "LPT1", "com3", "COM12:" — the names Windows gives its ports.
bool isWindowsPortName(const std::string& text) {
    std::string name = text;
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    for (const char* kind : {"lpt", "com"})
        if (startsWithNoCase(name, kind) && allDigits(name.substr(3)))
            return true;
    return false;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

RawDestination parseSocket(const std::string& text) {
    std::string rest = text.substr(6); // after "tcp://"
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    RawDestination d;
    d.kind = RawDestination::Kind::Socket;
    d.port = "9100";
    std::string port;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos)
            throw PrintError("the printer \"" + text +
                             "\" opens an IPv6 address with [ but has no ]");
        d.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                throw PrintError("the printer \"" + text + "\" has text after its address");
            port = after.substr(1);
            hasPort = true;
        }
    } else {
        const std::size_t colon = rest.find(':');
        if (colon != std::string::npos && rest.find(':', colon + 1) != std::string::npos)
            throw PrintError("the printer \"" + text +
                             "\": write an IPv6 address in brackets, tcp://[::1]:9100");
        d.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
            hasPort = true;
        }
    }
    if (d.host.empty())
        throw PrintError("the printer \"" + text + "\" names no host (tcp://HOST:9100)");
    if (hasPort) {
        if (!allDigits(port) || port.size() > 5 || std::stol(port) < 1 || std::stol(port) > 65535)
            throw PrintError("the printer \"" + text + "\" has no valid port (1 to 65535)");
        d.port = port;
    }
    return d;
}

} // namespace

std::string RawDestination::describe() const {
    switch (kind) {
    case Kind::Socket:
        return "tcp://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
               port;
    case Kind::Device:
        return name;
    case Kind::Queue:
        break;
    }
    return name.empty() ? std::string("the default print queue") : "print queue \"" + name + "\"";
}

RawDestination parseRawDestination(const std::string& raw, bool windows) {
    const std::string text = trimmed(raw);
    if (startsWithNoCase(text, "tcp://"))
        return parseSocket(text);
    if (text.find("://") != std::string::npos)
        throw PrintError("the printer \"" + text +
                         "\" is no destination this station sends to: tcp://HOST:9100, a "
                         "device or a print queue");
    RawDestination d;
    d.name = text;
    if (windows) {
        const bool drivePath =
            text.size() >= 3 &&
            ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
            text[1] == ':' && (text[2] == '\\' || text[2] == '/');
        if (isWindowsPortName(text)) {
            d.kind = RawDestination::Kind::Device;
            d.name = "\\\\.\\" + (text.back() == ':' ? text.substr(0, text.size() - 1) : text);
        } else if (startsWithNoCase(text, "\\\\") || startsWithNoCase(text, "//") || drivePath) {
            d.kind = RawDestination::Kind::Device;
        }
    } else if (!text.empty() && text.front() == '/') {
        d.kind = RawDestination::Kind::Device;
    }
    return d;
}

RawSendResult sendRaw(const RawDestination& destination, const std::string& bytes,
                      const std::string& title, const RawTimeouts& timeouts) {
    switch (destination.kind) {
    case RawDestination::Kind::Socket:
        return raw::sendSocket(destination, bytes, timeouts);
    case RawDestination::Kind::Device:
        return raw::sendDevice(destination, bytes, timeouts);
    case RawDestination::Kind::Queue:
        break;
    }
    return raw::sendQueue(destination, bytes, title, timeouts);
}

} // namespace vx::print
