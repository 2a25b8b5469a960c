#include "tests/support/StationHarness.h"

#include "data/Database.h"
#include "scan/RecordTable.h"

namespace vx::test {

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
