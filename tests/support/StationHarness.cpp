#include "tests/support/StationHarness.h"

#include "data/Database.h"
#include "data/RecordTable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vx::test {

namespace {

QString iconName(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Information:
        return "Information";
    case QMessageBox::Question:
        return "Question";
    case QMessageBox::Warning:
        return "Warning";
    case QMessageBox::Critical:
        return "Critical";
    default:
        return "None";
    }
}

QString buttonName(QMessageBox::StandardButton b) {
    switch (b) {
    case QMessageBox::Yes:
        return "Yes";
    case QMessageBox::No:
        return "No";
    case QMessageBox::Cancel:
        return "Cancel";
    case QMessageBox::Ok:
        return "OK";
    default:
        return "?";
    }
}

// The box as it is shown, once it is open.
QString describe(QMessageBox& box) {
    QStringList names;
    QString defaultName = "none";
    // In a fixed order: the platform's style decides the order on screen.
    for (auto which : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel, QMessageBox::Ok}) {
        QAbstractButton* b = box.button(which);
        if (!b)
            continue;
        names << buttonName(which);
        if (auto* push = qobject_cast<QPushButton*>(b); push && push->isDefault())
            defaultName = names.back();
    }
    return box.windowTitle() + "|" + box.text() + "|" + iconName(box.icon()) + "|" +
           names.join(" ") + "|" + defaultName;
}

// Hands the message box to answer once it is up, while the caller's box
// runs its own event loop; the timer must live until that loop ends.
void whenBoxIsUp(QTimer& poll, std::function<void(QMessageBox&)> answer) {
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&poll, answer = std::move(answer)] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        answer(*box);
    });
    poll.start();
}

} // namespace

app::Dialogs::Answer ScriptedDialogs::question(const QString& caption, const QString& text,
                                               Buttons buttons, Answer defaultAnswer, Icon icon) {
    const Answer answer = next(answers, Answer::Cancel);
    if (!realQuestionBoxes)
        return answer;
    // Reads the box once it is up and clicks the scripted answer on it.
    QTimer poll;
    whenBoxIsUp(poll, [&](QMessageBox& box) {
        boxes << describe(box);
        const auto which = answer == Answer::Yes  ? QMessageBox::Yes
                           : answer == Answer::No ? QMessageBox::No
                                                  : QMessageBox::Cancel;
        if (QAbstractButton* b = box.button(which))
            b->click();
        else
            box.reject();
    });
    app::QtDialogs real;
    return real.question(caption, text, buttons, defaultAnswer, icon);
}

int ScriptedDialogs::choose(const QString& caption, const QString& text,
                            const QStringList& options) {
    choiceBoxes << caption + "|" + text + "|" + options.join(' ');
    const int choice = next(choices, -1);
    if (!realQuestionBoxes)
        return choice;
    QTimer poll;
    whenBoxIsUp(poll, [&](QMessageBox& box) {
        QStringList names;
        QAbstractButton* chosen = box.button(QMessageBox::Cancel);
        for (QAbstractButton* b : box.buttons()) {
            if (b == box.button(QMessageBox::Cancel))
                continue;
            names << b->text();
            if (choice >= 0 && choice < options.size() && b->text() == options[choice])
                chosen = b;
        }
        if (box.button(QMessageBox::Cancel))
            names << "Cancel";
        auto* preset = box.defaultButton();
        boxes << box.windowTitle() + "|" + box.text() + "|" + iconName(box.icon()) + "|" +
                     names.join(" ") + "|" +
                     (!preset                                     ? QString("none")
                      : preset == box.button(QMessageBox::Cancel) ? QString("Cancel")
                                                                  : preset->text());
        if (chosen)
            chosen->click();
        else
            box.reject();
    });
    return app::QtDialogs().choose(caption, text, options);
}

QString ScriptedDialogs::openFile(const QString& title, const QString& filter,
                                  const QString& folder) {
    filters << filter;
    if (!realFileDialogs)
        return next(files, {});
    cancelFileDialogWhenListed();
    return app::QtDialogs().openFile(title, filter, folder);
}

QString ScriptedDialogs::saveFile(const QString& title, const QString& filter,
                                  const QString& defaultSuffix, const QString& folder) {
    if (!realFileDialogs)
        return next(files, {});
    cancelFileDialogWhenListed();
    return app::QtDialogs().saveFile(title, filter, defaultSuffix, folder);
}

void ScriptedDialogs::cancelFileDialogWhenListed() {
    auto* poll = new QTimer;
    poll->setInterval(10);
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    QObject::connect(poll, &QTimer::timeout, [this, poll, since] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* model = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
        if (!model || !dialog->isVisible())
            return;
        if (!fileDialogFolder.isEmpty() && dialog->directory() != QDir(fileDialogFolder))
            dialog->setDirectory(fileDialogFolder);
        // Listed: every entry the dialog shows has its type, which the model
        // learns from its icon provider together with the icon, in one batch
        // for all the files of the folder, shown or filtered out.
        const QModelIndex folder = model->index(dialog->directory().absolutePath());
        const int rows = model->rowCount(folder);
        bool listed = rows > 0;
        for (int r = 0; r < rows && listed; ++r)
            listed = !model->index(r, 2, folder).data().toString().isEmpty() &&
                     !model->index(r, 0, folder).data(Qt::DecorationRole).isNull();
        const bool late = since->elapsed() > 10000;
        if (!listed && !late)
            return;
        poll->stop();
        poll->deleteLater();
        fileDialogs << dialog->windowTitle() + "|" + dialog->directory().absolutePath() +
                           (listed ? "" : "|not listed");
        dialog->reject();
    });
    poll->start();
}

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

void scanText(app::TForm1& f, const std::string& text, bool compare) {
    scan::ScanSwitches sw;
    sw.chk_start = compare;
    f.station.com31RxChar(text, sw);
    f.renderScan();
}

int runWindowTests(int argc, char** argv) {
    // Offscreen, on one screen of $VEXORA_TEST_SCREEN (WIDTHxHEIGHT; a
    // desktop's 1920x1080 by default) described to Qt in a file of its own.
    std::string screenFile;
    if (qgetenv("VEXORA_TEST_QPA").isEmpty()) {
        const QByteArray size = qgetenv("VEXORA_TEST_SCREEN").isEmpty()
                                    ? QByteArray("1920x1080")
                                    : qgetenv("VEXORA_TEST_SCREEN");
        const QList<QByteArray> wh = size.split('x');
        screenFile = (std::filesystem::temp_directory_path() /
                      ("vexora-screen-" + std::to_string(::getpid()) + ".json"))
                         .string();
        writeFile(screenFile, "{\"screens\": [{\"name\": \"screen\", \"x\": 0, \"y\": 0, "
                              "\"width\": " +
                                  wh.value(0).toStdString() +
                                  ", \"height\": " + wh.value(1).toStdString() +
                                  ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}\n");
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screenFile.c_str());
    } else {
        qputenv("QT_QPA_PLATFORM", qgetenv("VEXORA_TEST_QPA"));
    }
    int rc = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName("Vexora");
        ::testing::InitGoogleTest(&argc, argv);
        rc = RUN_ALL_TESTS();
    }
    if (!screenFile.empty())
        std::filesystem::remove(screenFile);
    return rc;
}

StationHarness::StationHarness() = default;

StationHarness::~StationHarness() {
    m_form.reset();
}

void StationHarness::config(const std::string& contents) {
    writeFile(dir.file("config.ini"), contents);
}

app::TForm1& StationHarness::start() {
    app::StationEnvironment env;
    env.folder = QString::fromStdString(dir.folder());
    env.dialogs = &dialogs;
    env.sound = &sound;
    env.windows = &windows;
    env.openDocument = [this](const QString& path) { opened << path; };
    env.printBackends = printBackends;
    env.programFiles = programFiles;
    env.folderInTitle = folderInTitle;
    m_form = std::make_unique<app::TForm1>(env);
    m_form->show();
    return *m_form;
}

void StationHarness::seedDatabase(const std::vector<std::string>& texts, const std::string& file) {
    data::Connection db;
    db.openWith(data::openSqliteBackend(dir.file(file)));
    data::Query q(db);
    q.execute(data::RecordTable::createBatch(data::Dialect::Sqlite, "a15", true));
    for (const auto& t : texts)
        q.execute({data::RecordTable::insertText(data::Dialect::Sqlite, "a15")}, {{"a", t}});
}

void StationHarness::sql(std::initializer_list<std::string> statements,
                         const std::string& file) const {
    data::Connection db;
    db.openWith(data::openSqliteBackend(dir.file(file)));
    data::Query q(db);
    for (const std::string& statement : statements) {
        q.setText(statement);
        q.execute();
    }
}

std::vector<std::string> StationHarness::column(const std::string& query,
                                                const std::string& file) const {
    data::Connection db;
    db.openWith(data::openSqliteBackend(dir.file(file)));
    data::Query q(db);
    q.setText(query);
    q.open();
    std::vector<std::string> out;
    for (; !q.eof(); q.next())
        out.push_back(q.field(0).asText());
    return out;
}

std::vector<std::string> StationHarness::records(const std::string& table,
                                                 const std::string& file) const {
    data::Connection db;
    db.openWith(data::openSqliteBackend(dir.file(file)));
    data::Query q(db);
    q.setText("select bh, tt, pic, prned from " + table + " order by bh");
    q.open();
    std::vector<std::string> out;
    for (; !q.eof(); q.next())
        out.push_back(q.field(0).asText() + "|" + q.field(1).asText() + "|" +
                      (q.field(2).isNull() ? "NULL" : q.field(2).asText()) + "|" +
                      q.field(3).asText());
    return out;
}

} // namespace vx::test

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
