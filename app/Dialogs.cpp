#include "app/Dialogs.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>

namespace vx::app {
namespace {

// The file dialogs' icons and type names, from the names of the files alone.
// Qt's own provider reads the first bytes of every file whose name does not
// settle its type (station.db-wal, station.db-shm, the journal's files). On
// POSIX, closing that read drops every lock the process holds on the file,
// and SQLite keeps the database and the journal by such locks: the next
// program to close the database would then take itself for its last user
// and delete the write-ahead log the station still writes to.
class NameOnlyIconProvider : public QAbstractFileIconProvider {
public:
    QIcon icon(IconType type) const override { return m_icons.icon(type); }
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot())
            return m_icons.icon(Drive);
        return m_icons.icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        if (!info.isFile()) // a folder, a drive or a dangling link: never opened
            return QAbstractFileIconProvider::type(info);
        const QList<QMimeType> byName = m_mime.mimeTypesForFileName(info.fileName());
        if (!byName.isEmpty() && !byName.first().comment().isEmpty())
            return byName.first().comment();
        const QString suffix = info.suffix();
        return suffix.isEmpty() ? QStringLiteral("File") : suffix + QStringLiteral(" File");
    }

private:
    QFileIconProvider m_icons; // the style's icons by kind, which read no file
    QMimeDatabase m_mime;
};

// Runs a file dialog with icons that must outlive it; the chosen path, or
// empty on cancel. The model describes files on this thread, from the event
// loop, so nothing was described before the provider was set.
QString runFileDialog(QFileDialog& dialog, NameOnlyIconProvider& icons) {
    dialog.setIconProvider(&icons);
#ifndef Q_OS_WIN
    // A platform's own dialog (GTK's, in this process) would read the files
    // with code of its own. Windows keeps its dialog: a lock there belongs to
    // the handle that took it, and another handle's close costs nothing.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

void QtDialogs::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    m_parent);
    box.exec();
}

void QtDialogs::error(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok,
                    m_parent);
    box.exec();
}

Dialogs::Answer QtDialogs::question(const QString& caption, const QString& text, Buttons buttons,
                                    Answer defaultAnswer, Icon icon) {
    QMessageBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::Question,
                    caption, text, QMessageBox::NoButton, m_parent);
    QAbstractButton* yes = box.addButton(QMessageBox::Yes);
    QAbstractButton* no = box.addButton(QMessageBox::No);
    QAbstractButton* cancel =
        buttons == Buttons::YesNoCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
    if (defaultAnswer == Answer::Yes)
        box.setDefaultButton(static_cast<QPushButton*>(yes));
    else if (defaultAnswer == Answer::No)
        box.setDefaultButton(static_cast<QPushButton*>(no));
    else if (cancel)
        box.setDefaultButton(static_cast<QPushButton*>(cancel));
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    if (box.clickedButton() == no)
        return Answer::No;
    return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
}

QString QtDialogs::qtFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];
    return out.join(";;");
}

QString QtDialogs::openFile(const QString& title, const QString& filter, const QString& folder) {
    NameOnlyIconProvider icons;
    QFileDialog dlg(m_parent, title, folder, qtFilter(filter));
    dlg.setFileMode(QFileDialog::ExistingFile);
    return runFileDialog(dlg, icons);
}

QString QtDialogs::saveFile(const QString& title, const QString& filter,
                            const QString& defaultSuffix, const QString& folder) {
    NameOnlyIconProvider icons;
    QFileDialog dlg(m_parent, title, folder, qtFilter(filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QString(defaultSuffix).remove(0, defaultSuffix.startsWith('.') ? 1 : 0));
    // An existing file is refused by the caller with its own message.
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    return runFileDialog(dlg, icons);
}

int QtDialogs::choose(const QString& caption, const QString& text, const QStringList& options) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, m_parent);
    QList<QAbstractButton*> buttons;
    for (const QString& option : options)
        buttons << box.addButton(option, QMessageBox::AcceptRole);
    QAbstractButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(static_cast<QPushButton*>(cancel));
    box.setEscapeButton(cancel);
    box.exec();
    return static_cast<int>(buttons.indexOf(box.clickedButton()));
}

QString QtDialogs::inputBox(const QString& caption, const QString& prompt, const QString& preset) {
    bool ok = false;
    QString answer =
        QInputDialog::getText(m_parent, caption, prompt, QLineEdit::Normal, preset, &ok);
    return ok ? answer : preset;
}

} // namespace vx::app
