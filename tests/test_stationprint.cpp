// The print area of the station window, offscreen: the start and count
// boxes, the batch list, the reset, the return timer, the template choice,
// the direct-print switch with a recording back end, and the picture
// assignment.

#include "data/Database.h"
#include "journal/ShiftReport.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/StationHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace vx;
using app::TForm1;
using test::CallLog;
using test::RecordingBackend;
using test::StationHarness;
using namespace std::chrono_literals;
using Answer = app::Dialogs::Answer;

namespace {

// The batch list's ranges, without the states of their jobs.
QStringList items(QListWidget* w) {
    QStringList l;
    for (int i = 0; i < w->count(); ++i) {
        const QString shown = w->item(i)->text();
        l << shown.left(shown.indexOf(' ') < 0 ? shown.size() : shown.indexOf(' '));
    }
    return l;
}

// What the list shows, states and all.
QStringList shown(QListWidget* w) {
    QStringList l;
    for (int i = 0; i < w->count(); ++i)
        l << w->item(i)->text();
    return l;
}

void enter(QLineEdit* box, const QString& text) {
    box->setText(text);
    QTest::keyClick(box, Qt::Key_Return);
}

std::string lastnum(const StationHarness& h) {
    const std::string ini = h.ini();
    const std::size_t p = ini.find("lastnum=");
    return p == std::string::npos ? "<none>"
                                  : ini.substr(p + 8, ini.find_first_of("\r\n", p) - p - 8);
}

} // namespace

// A station with five records and a recording back end for ".rec"
// templates; the template file exists unless a test removes it.
class PrintArea : public ::testing::Test {
protected:
    void SetUp() override {
        h.seedDatabase({"VX1", "VX2", "VX3", "VX4", "VX5"});
        test::writeFile(h.dir.file("label.rec"), "template");
        h.printBackends.add(".rec", [this](const print::JobParams&) {
            return std::make_unique<RecordingBackend>(calls);
        });
    }
    TForm1& start(const std::string& print = "[print]\r\nlastnum=4\r\n") {
        TForm1& f = h.start("[Database]\r\nservername=station.db\r\n" + print);
        h.dialogs.messages.clear(); // "请先进行com口设置": no scanner here
        return f;
    }
    TForm1& startPrintingDirectly(const std::string& lastnumValue = "0") {
        TForm1& f = start("[print]\r\nlastnum=" + lastnumValue +
                          "\r\nbtfile=" + h.dir.file("label.rec") + "\r\n");
        EXPECT_TRUE(f.chk_BTprn->isEnabled());
        f.chk_BTprn->click();
        return f;
    }
    std::vector<std::string> printed() {
        std::vector<std::string> out;
        for (const std::string& c : calls->calls())
            if (c.rfind("SetNamedSubStringValue(sjy-tt,", 0) == 0)
                out.push_back(c.substr(30, c.size() - 31));
        return out;
    }
    StationHarness h;
    std::shared_ptr<CallLog> calls = std::make_shared<CallLog>();
};

TEST_F(PrintArea, TheStartBoxHasTheFocusAndTheNextNumberAtStartUp) {
    TForm1& f = start();
    EXPECT_EQ(f.Edit_willprn->text(), "5");
    EXPECT_EQ(f.focusWidget(), f.Edit_willprn);
}

TEST_F(PrintArea, EnterAcceptsTheNextNumberAndHandsItToBarTendersWindow) {
    h.windows.barTender = 77;
    TForm1& f = start();
    f.btn_piji->click(); // counted scans of the last batch would show here
    f.station.counters.batch = 9;
    enter(f.Edit_willprn, "5");
    EXPECT_EQ(items(f.LB_alprn), QStringList{"5"});
    EXPECT_EQ(lastnum(h), "5");
    EXPECT_EQ(f.heldLastPrinted(), "5");
    EXPECT_EQ(QApplication::clipboard()->text(), "5");
    EXPECT_EQ(f.Edit_willprn->text(), "6");
    EXPECT_EQ(f.Edit_willprn->cursorPosition(), 1);
    EXPECT_EQ(f.btn_piji->text(), "0");
    EXPECT_EQ(f.station.counters.batch, 0);
    // Manual printing: BarTender in front, the station back in 120 s.
    EXPECT_EQ(h.windows.fronts, 1);
    EXPECT_TRUE(f.Timer_returnapp.isActive());
    EXPECT_EQ(f.Timer_returnapp.interval(), 120000);
    EXPECT_TRUE(calls->calls().empty());
}

TEST_F(PrintArea, TheReturnTimerBringsTheStationBackOnceAndIsNotRestartedWhileRunning) {
    TForm1& f = start();
    enter(f.Edit_willprn, "5");
    const auto firstLeft = f.Timer_returnapp.remainingTime();
    QTest::qWait(20);
    enter(f.Edit_willprn, "6");
    EXPECT_LT(f.Timer_returnapp.remainingTime(), firstLeft) << "not restarted";
    const int fronts = h.windows.fronts;
    QMetaObject::invokeMethod(&f.Timer_returnapp, "timeout", Qt::DirectConnection);
    EXPECT_EQ(h.windows.fronts, fronts + 1) << "the station's window to the front";
    EXPECT_FALSE(f.Timer_returnapp.isActive());
}

TEST_F(PrintArea, EnterInTheCountBoxPrintsCountLabelsFromTheStartNumber) {
    TForm1& f = start();
    f.Edit_willprn->setText("21");
    enter(f.Edit_zheng, "10");
    EXPECT_TRUE(h.dialogs.messages.isEmpty()) << "no question, though 21 is not next";
    EXPECT_EQ(items(f.LB_alprn), QStringList{"21-30"});
    EXPECT_EQ(lastnum(h), "30");
    EXPECT_EQ(f.Edit_willprn->text(), "31");
    EXPECT_EQ(f.focusWidget(), f.Edit_willprn);
}

TEST_F(PrintArea, ANumberThatIsNotNextIsAskedAboutAndNoKeepsEverything) {
    TForm1& f = start("[print]\r\nlastnum=10\r\n");
    h.dialogs.answers = {Answer::No};
    enter(f.Edit_willprn, "15");
    EXPECT_EQ(f.Edit_willprn->text(), "11");
    EXPECT_TRUE(items(f.LB_alprn).isEmpty());
    EXPECT_EQ(lastnum(h), "10");
    h.dialogs.answers = {Answer::Yes};
    enter(f.Edit_willprn, "15");
    EXPECT_EQ(items(f.LB_alprn), QStringList{"15"});
    EXPECT_EQ(lastnum(h), "15");
}

TEST_F(PrintArea, WrongTextsAreReportedAndChangeNothing) {
    TForm1& f = start();
    enter(f.Edit_willprn, "3a");
    EXPECT_EQ(h.dialogs.messages, QStringList{"不是有效的打印范围！"});
    enter(f.Edit_willprn, "3-4-5");
    EXPECT_EQ(h.dialogs.errors, QStringList{"'4-5' is not a valid integer value"});
    enter(f.Edit_willprn, "7-3");
    EXPECT_EQ(h.dialogs.messages.last(), "打印范围后数比前数小！");
    EXPECT_TRUE(items(f.LB_alprn).isEmpty());
    EXPECT_EQ(lastnum(h), "4");
}

TEST_F(PrintArea, DirectPrintingPrintsTheRangeOnThePrintWorker) {
    TForm1& f = startPrintingDirectly();
    enter(f.Edit_willprn, "1-3");
    enter(f.Edit_zheng, "2"); // 4-5, right behind it
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_EQ(printed(), (std::vector<std::string>{"VX1", "VX2", "VX3", "VX4", "VX5"}));
    EXPECT_TRUE(test::waitFor([&] {
        return shown(f.LB_alprn) == QStringList{"1-3 已打印 3/3", "4-5 已打印 2/2"};
    })) << shown(f.LB_alprn).join('|').toStdString();
    EXPECT_FALSE(f.Timer_returnapp.isActive()) << "nothing to come back from";
    EXPECT_EQ(calls->calls().front(), "create");
    EXPECT_EQ(calls->calls()[3], "open(" + h.dir.file("label.rec") + ",true,)");
}

TEST_F(PrintArea, AReversedRangeStillRunsAJobThatPrintsNothing) {
    TForm1& f = startPrintingDirectly("2");
    enter(f.Edit_willprn, "7-3");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_EQ(calls->calls(),
              (std::vector<std::string>{"create", "Visible(false)", "formats",
                                        "open(" + h.dir.file("label.rec") + ",true,)", "Close(0)",
                                        "release", "quit(1)"}));
}

TEST_F(PrintArea, ATemplateRemovedAfterTheSwitchFailsTheJobIntoTheErrorLog) {
    h.printBackends = print::BackendFactory{};
    h.printBackends.add(".rec", [this](const print::JobParams& job) {
        // Like BarTender, open fails for a file that is gone.
        return std::make_unique<RecordingBackend>(
            calls, QFileInfo::exists(QString::fromStdString(job.templatePath)) ? "" : "open");
    });
    TForm1& f = startPrintingDirectly();
    std::remove(h.dir.file("label.rec").c_str());
    enter(f.Edit_willprn, "1-2");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_TRUE(printed().empty());
    EXPECT_TRUE(h.dialogs.messages.isEmpty()) << "the job itself shows nothing";
    const std::string log = test::readFile(h.dir.file("error.log"));
    EXPECT_NE(log.find("print job 1-2 failed; 0 of 0 label(s) sent to the printer; template \"" +
                       h.dir.file("label.rec") + "\"; back end Recording: open failed\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(lastnum(h), "2") << "lastnum moved before printing";
}

TEST_F(PrintArea, AFailedJobShowsFailedWithItsReasonAndSoundsTheAlarmUntilAcknowledged) {
    h.printBackends = print::BackendFactory{};
    h.printBackends.add(".rec", [this](const print::JobParams&) {
        return std::make_unique<RecordingBackend>(calls, "printout");
    });
    TForm1& f = startPrintingDirectly();
    auto* reason = f.findChild<QLabel*>("lbl_prnfail");
    auto* ack = f.findChild<QPushButton*>("btn_prnack");
    ASSERT_TRUE(reason && ack) << "the window has a place for a failed job";
    EXPECT_FALSE(reason->isVisible());
    const int fronts = h.windows.fronts;
    enter(f.Edit_willprn, "1-2");
    ASSERT_TRUE(test::waitFor([&] { return reason->isVisible(); }));
    EXPECT_EQ(shown(f.LB_alprn), QStringList{"1-2 失败 0/2"});
    EXPECT_EQ(f.LB_alprn->item(0)->toolTip(), "printout failed");
    EXPECT_TRUE(reason->text().contains("1-2")) << reason->text().toStdString();
    EXPECT_TRUE(reason->text().contains("printout failed")) << reason->text().toStdString();
    EXPECT_TRUE(ack->isVisible());
    ASSERT_TRUE(test::waitFor([&] { return !h.sound.played.empty(); }));
    EXPECT_EQ(h.sound.played.back(), h.dir.folder() + "chong_d.wav") << "the alarm";
    EXPECT_EQ(h.windows.fronts, fronts + 1) << "the station comes to the front";
    EXPECT_EQ(lastnum(h), "2") << "lastnum moved when the range was accepted, and stays";
    // It stays until the operator acknowledges it.
    QTest::qWait(300);
    EXPECT_TRUE(reason->isVisible());
    ack->click();
    EXPECT_FALSE(reason->isVisible());
    EXPECT_FALSE(ack->isVisible());
    EXPECT_EQ(shown(f.LB_alprn), QStringList{"1-2 失败 0/2"}) << "the entry keeps its state";
}

namespace {

// A back end whose queue takes the job and holds it, as a disabled CUPS
// queue does: nothing failed, and nothing prints.
class HeldBackend : public RecordingBackend {
public:
    using RecordingBackend::RecordingBackend;
    std::string held() const override { return "the print queue \"Held\" is disabled"; }
};

// A back end whose printer dropped the connection: nobody knows what it took.
class UnknownCountBackend : public RecordingBackend {
public:
    using RecordingBackend::RecordingBackend;
    std::optional<int> labelsSent() const override { return std::nullopt; }
};

} // namespace

// The window claims no print it cannot know of: a job a queue holds is not
// shown as printed and is told like a failure, and a job whose printer took
// an unknown part shows no number for it.
TEST_F(PrintArea, AHeldJobIsNotShownAsPrintedAndAnUnknownCountIsNoNumber) {
    h.printBackends = print::BackendFactory{};
    bool hold = true;
    h.printBackends.add(".rec",
                        [&](const print::JobParams&) -> std::unique_ptr<print::PrintBackend> {
                            if (hold)
                                return std::make_unique<HeldBackend>(calls);
                            return std::make_unique<UnknownCountBackend>(calls, "Close");
                        });
    TForm1& f = startPrintingDirectly();
    auto* reason = f.findChild<QLabel*>("lbl_prnfail");
    auto* ack = f.findChild<QPushButton*>("btn_prnack");
    enter(f.Edit_willprn, "1-2");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_TRUE(test::waitFor([&] { return reason->isVisible(); }))
        << shown(f.LB_alprn).join('|').toStdString();
    EXPECT_EQ(shown(f.LB_alprn), QStringList{"1-2 未打印 2/2"});
    EXPECT_EQ(f.LB_alprn->item(0)->toolTip(), "the print queue \"Held\" is disabled");
    EXPECT_EQ(reason->text(), "打印任务 1-2 未打印，2 张停在打印队列中：the print queue \"Held\" "
                              "is disabled");
    ASSERT_TRUE(test::waitFor([&] { return !h.sound.played.empty(); }));
    EXPECT_EQ(h.sound.played.back(), h.dir.folder() + "chong_d.wav") << "the alarm";
    ack->click();

    hold = false;
    enter(f.Edit_willprn, "3-4");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    ASSERT_TRUE(test::waitFor([&] { return reason->isVisible(); }));
    EXPECT_EQ(shown(f.LB_alprn), (QStringList{"1-2 未打印 2/2", "3-4 失败 未知/2"}));
    EXPECT_EQ(reason->text(), "打印任务 3-4 失败，已发送的张数未知：Close failed");
}

TEST_F(PrintArea, ARunningJobShowsItsProgressAndCanBeCancelledKeepingWhatWasSent) {
    TForm1& f = startPrintingDirectly();
    auto* progress = f.findChild<QLabel*>("lbl_progress");
    auto* cancel = f.findChild<QPushButton*>("btn_prncancel");
    ASSERT_TRUE(progress && cancel);
    EXPECT_FALSE(cancel->isVisible()) << "nothing to cancel";
    calls->holdPrintouts();
    enter(f.Edit_willprn, "1-5");
    enter(f.Edit_zheng, "3");       // 6-8, queued behind it
    ASSERT_TRUE(calls->waitHeld()); // label 1 is printing
    ASSERT_TRUE(test::waitFor([&] { return cancel->isVisible(); }));
    EXPECT_EQ(progress->text(), "打印 1-5：已发送 0/5 张");
    EXPECT_EQ(shown(f.LB_alprn), (QStringList{"1-5 打印中 0/5", "6-8 排队中"}));
    h.dialogs.answers = {Answer::No};
    cancel->click();
    h.dialogs.answers = {Answer::Yes};
    cancel->click();
    calls->releasePrintouts();
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    ASSERT_TRUE(test::waitFor([&] {
        return shown(f.LB_alprn) == QStringList{"1-5 已取消 1/5", "6-8 已打印 0/0"};
    })) << shown(f.LB_alprn).join('|').toStdString();
    EXPECT_EQ(printed(), (std::vector<std::string>{"VX1"})) << "records 6-8 are not in a15";
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_FALSE(f.findChild<QLabel*>("lbl_prnfail")->isVisible()) << "a cancel is no failure";
    EXPECT_EQ(lastnum(h), "8");
}

TEST_F(PrintArea, TheSwitchNeedsTheTemplateFileAndStaysTickedWithout) {
    TForm1& f = start("[print]\r\nlastnum=0\r\nbtfile=" + h.dir.file("gone.rec") + "\r\n");
    f.chk_BTprn->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"打印模板不存在,请检查!"});
    EXPECT_TRUE(f.chk_BTprn->isChecked());
    enter(f.Edit_willprn, "1");
    EXPECT_TRUE(f.Timer_returnapp.isActive()) << "printing stays manual";
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_TRUE(calls->calls().empty());
}

TEST_F(PrintArea, UntickingTheSwitchPrintsManuallyAgain) {
    TForm1& f = startPrintingDirectly();
    f.chk_BTprn->click();
    enter(f.Edit_willprn, "1");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_TRUE(calls->calls().empty());
    EXPECT_TRUE(f.Timer_returnapp.isActive());
}

TEST_F(PrintArea, ChoosingATemplateStoresItAndEnablesTheSwitchHere) {
    TForm1& f = start();
    EXPECT_FALSE(f.chk_BTprn->isEnabled());
    f.btn_btprn->click(); // cancelled
    EXPECT_TRUE(h.dialogs.messages.isEmpty());
    const QString path = QString::fromStdString(h.dir.file("label.rec"));
    h.dialogs.files = {path};
    f.btn_btprn->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"设置为" + path});
    EXPECT_NE(h.ini().find("btfile=" + path.toStdString()), std::string::npos);
    EXPECT_EQ(f.templatePath(), path.toStdString());
    // No BarTender window was found, and none is needed for gLabels.
    EXPECT_TRUE(f.chk_BTprn->isEnabled());
    EXPECT_FALSE(f.chk_BTprn->isChecked()) << "choosing does not switch direct printing on";
}

TEST_F(PrintArea, ChoosingATemplateNoBackEndHerePrintsLeavesTheSwitchOff) {
    TForm1& f = start();
    // No BarTender window was found, and no back end here prints .btw.
    const QString btw = QString::fromStdString(h.dir.file("label.btw"));
    h.dialogs.files = {btw};
    f.btn_btprn->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"设置为" + btw});
    EXPECT_EQ(f.templatePath(), btw.toStdString());
    EXPECT_FALSE(f.chk_BTprn->isEnabled());

    const QString zpl = QString::fromStdString(h.dir.file("label.zpl"));
    test::writeFile(zpl.toStdString(), "^XA^FO0,0^FD{sjy-tt}^FS^XZ\n");
    h.dialogs.files = {zpl};
    f.btn_btprn->click();
    EXPECT_TRUE(f.chk_BTprn->isEnabled()) << "a ZPL printer needs no BarTender window";
    f.chk_BTprn->click();
    ASSERT_TRUE(f.chk_BTprn->isChecked());

    // Back to a template nothing here prints: the switch goes off with it.
    h.dialogs.files = {btw};
    f.btn_btprn->click();
    EXPECT_FALSE(f.chk_BTprn->isChecked());
    EXPECT_FALSE(f.chk_BTprn->isEnabled());
    EXPECT_FALSE(f.printState.directPrint) << "a range entered now would be sent to no printer";
}

TEST_F(PrintArea, AtStartUpTheSwitchIsOfferedByTheSameRuleAsTheChoice) {
    test::writeFile(h.dir.file("label.btw"), "x");
    TForm1& f = start("[print]\r\nlastnum=4\r\nbtfile=" + h.dir.file("label.btw") + "\r\n");
    EXPECT_FALSE(f.chk_BTprn->isEnabled()) << "no back end here prints .btw, no BarTender window";
}

namespace {

// BarTender's automation server as the print area meets it. On Windows the
// platform's own BarTender back end looks for BarTender.Application.10 in
// the registry and prints through it: the recorder of the Wine tests
// (tests/wine, beside this program) stands in, registered and unregistered
// as regsvr32 does, and records the calls it gets. Elsewhere a recording
// back end takes .btw templates while the server counts as installed.
class BarTenderStandIn {
public:
    BarTenderStandIn(StationHarness& h, std::shared_ptr<CallLog> calls)
        : m_log(h.dir.file("bartender.log")) {
#ifdef _WIN32
        (void)calls;
        SetEnvironmentVariableA("VEXORA_BT_LOG", m_log.c_str());
        char exe[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string dll = exe;
        dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "vexora-bartender-recorder.dll";
        m_dll = LoadLibraryA(dll.c_str());
#else
        h.printBackends.add(
            ".btw",
            [calls](const print::JobParams&) { return std::make_unique<RecordingBackend>(calls); },
            [installed = m_installed] { return *installed; });
        m_calls = std::move(calls);
#endif
    }
    ~BarTenderStandIn() {
#ifdef _WIN32
        install(false);
        SetEnvironmentVariableA("VEXORA_BT_LOG", nullptr);
        if (m_dll)
            FreeLibrary(m_dll);
#endif
    }
    BarTenderStandIn(const BarTenderStandIn&) = delete;
    BarTenderStandIn& operator=(const BarTenderStandIn&) = delete;

    // Installs or uninstalls the automation server; false when that failed.
    // Uninstalled at the end of the test whatever happened.
    bool install(bool on) {
#ifdef _WIN32
        using Entry = HRESULT(WINAPI*)();
        const auto entry =
            m_dll ? reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(
                        GetProcAddress(m_dll, on ? "DllRegisterServer" : "DllUnregisterServer")))
                  : nullptr;
        return entry && entry() == S_OK;
#else
        *m_installed = on;
        return true;
#endif
    }
    // How many labels went to the printer through the server.
    std::size_t printed() const {
#ifdef _WIN32
        const std::string log = test::readFile(m_log);
        std::size_t n = 0;
        for (std::size_t at = 0; (at = log.find("Format.printout method", at)) != std::string::npos;
             ++at)
            ++n;
        return n;
#else
        std::size_t n = 0;
        for (const std::string& c : m_calls->calls())
            n += c.rfind("SetNamedSubStringValue(sjy-tt,", 0) == 0;
        return n;
#endif
    }
    std::string log() const {
        return test::readFile(m_log);
    }

private:
    std::string m_log;
#ifdef _WIN32
    HMODULE m_dll = nullptr;
#else
    std::shared_ptr<CallLog> m_calls;
    std::shared_ptr<bool> m_installed = std::make_shared<bool>(false);
#endif
};

} // namespace

TEST_F(PrintArea, ABarTenderTemplateFollowsTheAutomationServerNotBarTendersWindow) {
    // No BarTender window was found at start-up; the automation starts a
    // BarTender of its own.
    BarTenderStandIn bartender(h, calls);
    ASSERT_TRUE(bartender.install(true));
    const std::string btw = h.dir.file("label.btw");
    test::writeFile(btw, "x");
    TForm1& f = start("[print]\r\nlastnum=4\r\nbtfile=" + btw + "\r\n");
    EXPECT_TRUE(f.chk_BTprn->isEnabled()) << "at start-up";
    h.dialogs.files = {QString::fromStdString(btw)};
    f.btn_btprn->click();
    EXPECT_TRUE(f.chk_BTprn->isEnabled()) << "the template chosen again";
    f.chk_BTprn->click();
    enter(f.Edit_willprn, "5");
    ASSERT_TRUE(test::waitFor([&] { return bartender.printed() == 1; })) << "printed directly\n"
                                                                         << bartender.log();

    // BarTender uninstalled: the next choice turns the switch off.
    ASSERT_TRUE(bartender.install(false));
    h.dialogs.files = {QString::fromStdString(btw)};
    f.btn_btprn->click();
    EXPECT_FALSE(f.chk_BTprn->isEnabled());
    EXPECT_FALSE(f.printState.directPrint);
}

TEST_F(PrintArea, TheJobCarriesTheCharsetOfTheWindowsConnection) {
    std::string charset = "(no job)";
    h.printBackends = print::BackendFactory{};
    h.printBackends.add(".rec", [this, &charset](const print::JobParams& job) {
        charset = job.charset;
        return std::make_unique<RecordingBackend>(calls);
    });
    TForm1& f =
        h.start("[Database]\r\nservername=station.db\r\ncharset=GBK\r\n[print]\r\nlastnum=0\r\n"
                "btfile=" +
                h.dir.file("label.rec") + "\r\n");
    f.chk_BTprn->click();
    enter(f.Edit_willprn, "1");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_EQ(charset, "GBK");
    EXPECT_EQ(printed(), std::vector<std::string>{"VX1"});
}

TEST_F(PrintArea, TheBatchListLosesADoubleClickedEntry) {
    TForm1& f = start();
    enter(f.Edit_willprn, "5");
    enter(f.Edit_willprn, "6-8");
    f.LB_alprn->setCurrentRow(0);
    emit f.LB_alprn->itemDoubleClicked(f.LB_alprn->item(0));
    EXPECT_EQ(items(f.LB_alprn), QStringList{"6-8"});
    EXPECT_EQ(lastnum(h), "8");
}

namespace {

// "kind what low-high message" of the journal's print and reprint rows.
std::vector<std::string> printRows(const StationHarness& h) {
    std::vector<std::string> out;
    journal::JournalReader reader(h.dir.file(journal::Journal::kFileName));
    reader.forEach({}, journal::JournalReader::Order::Appended, [&](const journal::JournalRow& r) {
        if (r.kind == "print" || r.kind == "reprint")
            out.push_back(r.kind + " " + r.what + " " + std::to_string(r.low.value_or(-1)) + "-" +
                          std::to_string(r.high.value_or(-1)) +
                          (r.message.empty() ? "" : " " + r.message.substr(0, 7)));
        return true;
    });
    return out;
}

void reprintKey(QListWidget* list) {
    QTest::keyClick(list, Qt::Key_P, Qt::ControlModifier);
}

} // namespace

// Ctrl+P on the batch list or on the missing-range list reprints labels
// printed before, for a reason the operator picks, on the print worker: the
// selected entry proposes the labels, lastnum, the start box and the
// entries already listed stay as they were, and the journal has the job as
// a reprint with its reason.
TEST_F(PrintArea, AReprintPrintsAgainWithoutMovingLastnumOrTheStartBox) {
    TForm1& f = startPrintingDirectly();
    enter(f.Edit_willprn, "1-4");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    f.LB_alprn->setCurrentRow(0);
    h.dialogs.inputs = {"3"}; // one label of 1-4
    h.dialogs.choices = {0};
    reprintKey(f.LB_alprn);
    EXPECT_TRUE(h.dialogs.prompts.last().endsWith("|1-4"))
        << h.dialogs.prompts.last().toStdString();
    EXPECT_EQ(h.dialogs.choiceBoxes, QStringList{"补打|补打 3 的原因：|损坏 缺失 测试"});
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_EQ(printed(), (std::vector<std::string>{"VX1", "VX2", "VX3", "VX4", "VX3"}));
    EXPECT_EQ(lastnum(h), "4");
    EXPECT_EQ(f.heldLastPrinted(), "4");
    EXPECT_EQ(f.Edit_willprn->text(), "5");
    EXPECT_TRUE(test::waitFor([&] {
        return shown(f.LB_alprn) == QStringList{"1-4 已打印 4/4", "3 补打(损坏) 已打印 1/1"};
    })) << shown(f.LB_alprn).join('|').toStdString();

    // A missing range a verdict named, as it stands in the list.
    f.station.LB_shao.append("1-2");
    f.renderResults();
    f.LB_shao->setCurrentRow(0);
    h.dialogs.choices = {1};
    reprintKey(f.LB_shao);
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_EQ(printed().size(), 7u);
    // Labels never printed are no reprint; a cancelled reason prints nothing.
    h.dialogs.inputs = {"4-5", "2"};
    h.dialogs.choices = {2};
    reprintKey(f.LB_alprn);
    EXPECT_EQ(h.dialogs.messages, QStringList{"只能补打已经打印过的标签：上次打印到 4。"});
    reprintKey(f.LB_alprn);
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_EQ(printed().size(), 7u);
    EXPECT_EQ(lastnum(h), "4");
    EXPECT_EQ(f.Edit_willprn->text(), "5");
    EXPECT_EQ(items(f.LB_alprn), (QStringList{"1-4", "3", "1-2"}));
    // Then the run goes on where it stopped.
    enter(f.Edit_willprn, "5");
    ASSERT_TRUE(f.printWorker().waitIdle(10s));
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join('|').toStdString();

    EXPECT_EQ(
        printRows(h),
        (std::vector<std::string>{
            "print dispatched 1-4", "print printing 1-4 4 label", "print printed 1-4",
            "reprint dispatched 3-3 damaged", "reprint printing 3-3 1 label", "reprint printed 3-3",
            "reprint dispatched 1-2 missing", "reprint printing 1-2 2 label", "reprint printed 1-2",
            "print dispatched 5-5", "print printing 5-5 1 label", "print printed 5-5"}));
    // The shift report counts them by reason, as prints of their batch.
    journal::JournalReader reader(h.dir.file(journal::Journal::kFileName));
    const auto r = journal::makeShiftReport(reader, 0, INT64_MAX - 1, nullptr);
    using Counts = std::map<std::string, journal::ReprintCount>;
    EXPECT_EQ(r.reprintsByReason, (Counts{{"damaged", {1, 1}}, {"missing", {1, 2}}}));
    ASSERT_EQ(r.batches.size(), 1u);
    EXPECT_EQ(r.batches[0].printed, (journal::RecordRanges{{1, 5}}));
    EXPECT_EQ(r.batches[0].reprinted, (journal::RecordRanges{{1, 3}}));
}

// The reason is asked in a real question box: a button per reason and
// Cancel, the button Enter presses; Cancel reprints nothing.
TEST_F(PrintArea, TheReprintsReasonIsAskedInAQuestionBoxWhoseDefaultIsCancel) {
    TForm1& f = start();
    enter(f.Edit_willprn, "5");
    h.dialogs.realQuestionBoxes = true;
    h.dialogs.inputs = {"5", "5"};
    h.dialogs.choices = {-1, 1};
    reprintKey(f.LB_alprn);
    EXPECT_EQ(h.dialogs.boxes,
              QStringList{"补打|补打 5 的原因：|Question|损坏 缺失 测试 Cancel|Cancel"});
    EXPECT_EQ(items(f.LB_alprn), QStringList{"5"});
    reprintKey(f.LB_alprn);
    EXPECT_EQ(shown(f.LB_alprn), (QStringList{"5", "5 补打(缺失)"}));
}

// Printing by hand, a reprint is handed to the operator as a range is: on
// the clipboard, with BarTender's window in front.
TEST_F(PrintArea, AReprintPrintedByHandGoesToTheClipboardAndTheJournal) {
    h.windows.barTender = 77;
    TForm1& f = start();
    enter(f.Edit_willprn, "5");
    QApplication::clipboard()->clear();
    const int fronts = h.windows.fronts;
    h.dialogs.inputs = {"2-4"};
    h.dialogs.choices = {2};
    reprintKey(f.LB_alprn);
    EXPECT_EQ(QApplication::clipboard()->text(), "2-4");
    EXPECT_EQ(h.windows.fronts, fronts + 1);
    EXPECT_EQ(shown(f.LB_alprn), (QStringList{"5", "2-4 补打(测试)"}));
    EXPECT_EQ(lastnum(h), "5");
    EXPECT_EQ(f.Edit_willprn->text(), "6");
    EXPECT_EQ(printRows(h),
              (std::vector<std::string>{"print dispatched 5-5", "reprint dispatched 2-4 test"}));
}

TEST_F(PrintArea, ResetAnsweredYesClearsTheRunAnsweredNoNothing) {
    TForm1& f = start();
    enter(f.Edit_willprn, "5");
    f.station.LB_rec.append("3");
    f.station.Lb_cuo.append("XX");
    f.station.counters = {7, 3};
    f.station.engine.lastScanned = "3";
    {
        data::Connection db;
        db.openWith(data::openSqliteBackend(h.dir.file("station.db")));
        data::Query q(db);
        q.setText("update a15 set prned=1 where bh<=3");
        q.execute();
    }
    h.dialogs.answers = {Answer::No};
    f.btn_reprn->click();
    EXPECT_EQ(items(f.LB_alprn), QStringList{"5"});
    EXPECT_EQ(lastnum(h), "5");

    h.dialogs.answers = {Answer::Yes};
    f.btn_reprn->click();
    EXPECT_TRUE(items(f.LB_alprn).isEmpty());
    EXPECT_EQ(lastnum(h), "0");
    EXPECT_EQ(f.heldLastPrinted(), "0");
    EXPECT_EQ(f.Edit_willprn->text(), "1");
    EXPECT_EQ(f.LB_rec->count() + f.Lb_cuo->count(), 0);
    EXPECT_EQ(f.btn_zongji->text(), "0");
    EXPECT_EQ(f.btn_piji->text(), "0");
    EXPECT_EQ(f.station.engine.lastScanned, "0");
    EXPECT_EQ(h.column("select count(*) from a15 where prned=1"), std::vector<std::string>{"0"});
}

TEST_F(PrintArea, PicturesAreAssignedToEveryRecordFromOneChosenFile) {
    TForm1& f = start();
    h.dialogs.files = {"/srv/O'Neil/a_00001.png"};
    f.btn_picset->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"完成"});
    EXPECT_TRUE(TForm1::isGreen(f.btn_picset));
    EXPECT_EQ(h.column("select pic from a15 where bh=3"),
              std::vector<std::string>{"/srv/O'Neil/a_00003.png"});

    h.dialogs.files = {"/srv/a00001.png"};
    f.btn_picset->click();
    EXPECT_EQ(h.dialogs.messages.last(), "不是标准形式:_00001.*");

    h.dialogs.files = {"/srv/a_1.b"}; // a negative digit count
    f.btn_picset->click();
    EXPECT_EQ(h.dialogs.errors.size(), 1);
    EXPECT_EQ(h.column("select pic from a15 where bh=3"),
              std::vector<std::string>{"/srv/O'Neil/a_00003.png"});
}

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
