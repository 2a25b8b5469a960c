#include "tests/support/RecordingBackend.h"

#include <chrono>

namespace vx::test {

void CallLog::add(std::string call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
}

std::vector<std::string> CallLog::calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

void CallLog::holdPrintouts() {
    std::lock_guard lock(m_mutex);
    m_hold = true;
}

void CallLog::releasePrintouts() {
    {
        std::lock_guard lock(m_mutex);
        m_hold = false;
    }
    m_changed.notify_all();
}

bool CallLog::waitHeld() {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_waiting > 0; });
}

void CallLog::gate() {
    std::unique_lock lock(m_mutex);
    ++m_waiting;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return !m_hold; });
    --m_waiting;
}

RecordingBackend::RecordingBackend(std::shared_ptr<CallLog> log, std::string failAt)
    : m_log(std::move(log)), m_failAt(std::move(failAt)) {}

void RecordingBackend::call(const std::string& name, const std::string& text) {
    if (name == m_failAt || text == m_failAt)
        throw print::PrintError(name + " failed");
    m_log->add(text);
}

namespace {
const char* b(bool v) {
    return v ? "true" : "false";
}
} // namespace

void RecordingBackend::create() {
    call("create", "create");
}
void RecordingBackend::Visible(bool visible) {
    call("Visible", std::string("Visible(") + b(visible) + ")");
}
void RecordingBackend::formats() {
    call("formats", "formats");
}
void RecordingBackend::open(const std::string& path, bool closeOutOfDate, const std::string& pw) {
    call("open", "open(" + path + "," + b(closeOutOfDate) + "," + pw + ")");
}
void RecordingBackend::SetNamedSubStringValue(const std::string& name, const std::string& value) {
    call("SetNamedSubStringValue", "SetNamedSubStringValue(" + name + "," + value + ")");
}
void RecordingBackend::printout(std::int32_t copies, bool showDialog) {
    m_log->gate();
    call("printout", "printout(" + std::to_string(copies) + "," + b(showDialog) + ")");
    m_sent += copies;
}
void RecordingBackend::Close(std::int32_t saveChanges) {
    call("Close", "Close(" + std::to_string(saveChanges) + ")");
}
void RecordingBackend::release() {
    call("release", "release");
}
void RecordingBackend::quit(std::int32_t saveChanges) {
    call("quit", "quit(" + std::to_string(saveChanges) + ")");
}

} // namespace vx::test
