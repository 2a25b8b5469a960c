#pragma once

#include "print/PrintJob.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vx::test {

// Every automation call of every job, in the order they came, shared by the
// back ends of one test ("create", "Visible(false)", "open(<path>,true,)",
// "SetNamedSubStringValue(sjy-bh,1)", "printout(1,false)", "Close(0)",
// "release", "quit(1)"; jobs are told apart by their open).
class CallLog {
public:
    void add(std::string call);
    std::vector<std::string> calls() const;
    // Blocks a back end's printout until release() (jobs still running
    // while the window closes).
    void holdPrintouts();
    void releasePrintouts();
    // Waits until a printout is being held.
    bool waitHeld();
    // Blocks the calling back end while printouts are held.
    void gate();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_calls;
    bool m_hold = false;
    int m_waiting = 0;
};

// A print back end that records its calls and fails where told: the call
// named by failAt (its name, or the whole call as logged) raises
// PrintError("<name> failed") instead of recording.
class RecordingBackend : public print::PrintBackend {
public:
    RecordingBackend(std::shared_ptr<CallLog> log, std::string failAt = {});
    std::string name() const override { return "Recording"; }
    void create() override;
    void Visible(bool visible) override;
    void formats() override;
    void open(const std::string& templatePath, bool closeOutOfDate,
              const std::string& password) override;
    void SetNamedSubStringValue(const std::string& name, const std::string& value) override;
    void printout(std::int32_t copies, bool showDialog) override;
    void Close(std::int32_t saveChanges) override;
    void release() override;
    void quit(std::int32_t saveChanges) override;
    std::optional<int> labelsSent() const override { return m_sent; }

private:
    void call(const std::string& name, const std::string& text);

    std::shared_ptr<CallLog> m_log;
    std::string m_failAt;
    int m_sent = 0;
};

} // namespace vx::test
