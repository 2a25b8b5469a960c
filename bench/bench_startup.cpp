// Start-up of the station window on a 1,000,000-record a15: from creating
// the window to its first paint with the start-up sequence done (settings
// read, database opened, a15 checked and shown in the grid). Offscreen.

#include "app/TForm1.h"
#include "bench/BenchTable.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <fstream>

using namespace vx;

namespace {
struct Quiet : app::Dialogs {
    void message(const QString&) override {}
    void error(const QString&) override {}
    Answer question(const QString&, const QString&, Buttons, Answer, Icon) override {
        return Answer::Cancel;
    }
    QString openFile(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString inputBox(const QString&, const QString&, const QString& p) override { return p; }
    int choose(const QString&, const QString&, const QStringList&) override { return -1; }
};
struct Silent : scan::SoundPlayer {
    void play(const std::string&) override {}
};
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Vexora");
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    {
        data::Connection db;
        db.openWith(data::openSqliteBackend(folder + "station.db"));
        bench::fillA15(db, 1'000'000);
    }
    std::ofstream(folder + "config.ini")
        << "[Database]\r\nservername=station.db\r\n[com]\r\nnum=\r\n";

    Quiet dialogs;
    Silent sound;
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        app::StationEnvironment env;
        env.folder = QString::fromStdString(folder);
        env.dialogs = &dialogs;
        env.sound = &sound;
        const auto t0 = bench::Clock::now();
        app::TForm1 form(env);
        form.show();
        QApplication::processEvents();
        form.grab(); // the first paint, grid rows included
        times.push_back(bench::ms(bench::Clock::now() - t0));
        if (form.DataSource1.rowCount() == 0)
            return 1;
    }
    const double first = times.front();
    bench::figure("startup_first", first, "ms");
    bench::figure("startup_median", bench::percentile(times, 50), "ms");
    bench::figure("startup_max", bench::percentile(times, 100), "ms");
    return 0;
}
