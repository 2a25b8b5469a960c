#include "app/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace vx::app {

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
    return QFileDialog::getOpenFileName(m_parent, title, folder, qtFilter(filter));
}

QString QtDialogs::saveFile(const QString& title, const QString& filter,
                            const QString& defaultSuffix, const QString& folder) {
    QFileDialog dlg(m_parent, title, folder, qtFilter(filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QString(defaultSuffix).remove(0, defaultSuffix.startsWith('.') ? 1 : 0));
    // An existing file is refused by the caller with its own message.
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().first();
}

QString QtDialogs::inputBox(const QString& caption, const QString& prompt, const QString& preset) {
    bool ok = false;
    QString answer =
        QInputDialog::getText(m_parent, caption, prompt, QLineEdit::Normal, preset, &ok);
    return ok ? answer : preset;
}

} // namespace vx::app
