#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/ParentConsole.h"
#include "app/Sound.h"
#include "app/TForm1.h"
#include "app/WindowSystem.h"
#include "settings/StationFolder.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QStyleFactory>
#include <QUrl>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    // What needs no window is answered before Qt looks for a display.
    const vx::app::StationOptions options = vx::app::parseStationOptions(argc, argv);
    if (!options.error.empty() || options.help || options.version)
        vx::app::useParentConsole();
    if (!options.error.empty()) {
        std::fprintf(stderr, "vexora: %s\n%s", options.error.c_str(), vx::app::kStationUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(vx::app::kStationHelp, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vexora %s\n", VEXORA_VERSION);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Vexora");
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setWindowIcon(vx::app::stationIcon());

    const QString exeFolder = QCoreApplication::applicationDirPath() + "/";
    const vx::settings::StationPlace place =
        vx::settings::locateStation(exeFolder.toLocal8Bit().toStdString(), options.station);
    try {
        vx::settings::prepareStationFolder(place);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vexora: %s\n", e.what());
        QMessageBox::critical(nullptr, "Vexora",
                              "无法建立工作站文件夹：\n" + QString::fromLocal8Bit(e.what()));
        return 1;
    }

    vx::app::QtDialogs dialogs;
    const auto sound = vx::app::createSoundPlayer();
    auto windows = vx::app::createWindowSystem();
    vx::app::StationEnvironment env;
    env.folder = QString::fromLocal8Bit(place.folder.c_str());
    env.programFiles = QString::fromLocal8Bit(place.programFiles.c_str());
    env.folderInTitle = !place.ownFolder;
    env.dialogs = &dialogs;
    env.sound = sound.get();
    env.windows = windows.get();
    env.openDocument = [](const QString& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };

    vx::app::TForm1 form(env);
    dialogs.setParent(&form);
    form.show();
    return app.exec();
}
