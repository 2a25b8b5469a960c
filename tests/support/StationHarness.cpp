#include "tests/support/StationHarness.h"

#include "data/Database.h"
#include "scan/RecordTable.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

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

} // namespace

app::Dialogs::Answer ScriptedDialogs::question(const QString& caption, const QString& text,
                                               Buttons buttons, Answer defaultAnswer, Icon icon) {
    const Answer answer = next(answers, Answer::Cancel);
    if (!realQuestionBoxes)
        return answer;
    // Reads the box once it is up and clicks the scripted answer on it.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        boxes << describe(*box);
        const auto which = answer == Answer::Yes  ? QMessageBox::Yes
                           : answer == Answer::No ? QMessageBox::No
                                                  : QMessageBox::Cancel;
        if (QAbstractButton* b = box->button(which))
            b->click();
        else
            box->reject();
    });
    poll.start();
    app::QtDialogs real;
    return real.question(caption, text, buttons, defaultAnswer, icon);
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
    m_form = std::make_unique<app::TForm1>(env);
    m_form->show();
    return *m_form;
}

void StationHarness::seedDatabase(const std::vector<std::string>& texts, const std::string& file) {
    data::Connection db;
    db.openWith(data::openSqliteBackend(dir.file(file)));
    data::Query q(db);
    q.execute(scan::RecordTable::createBatch(data::Dialect::Sqlite, "a15", true));
    for (const auto& t : texts)
        q.execute({scan::RecordTable::insertText(data::Dialect::Sqlite, "a15")}, {{"a", t}});
}

} // namespace vx::test
