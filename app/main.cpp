#include "app/Dialogs.h"
#include "app/Sound.h"
#include "app/TForm1.h"
#include "app/WindowSystem.h"

#include <QApplication>
#include <QDesktopServices>
#include <QStyleFactory>
#include <QUrl>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vexora");
    QApplication::setStyle(QStyleFactory::create("Fusion"));

    vx::app::QtDialogs dialogs;
    const auto sound = vx::app::createSoundPlayer();
    auto windows = vx::app::createWindowSystem();
    vx::app::StationEnvironment env;
    env.folder = QCoreApplication::applicationDirPath() + "/";
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
