#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace vx::app {

// Every modal interaction of the station: message boxes, questions, file
// dialogs and the input box. The window asks through this, so tests answer.
class Dialogs {
public:
    enum class Answer { Yes, No, Cancel };
    enum class Buttons { YesNo, YesNoCancel };
    // The icon beside a question: each question has the one it always had.
    enum class Icon { Question, Information };

    virtual ~Dialogs() = default;
    // A plain message box captioned with the application title.
    virtual void message(const QString& text) = 0;
    // The general error report: stop icon, OK, the error's text.
    virtual void error(const QString& text) = 0;
    // defaultAnswer: the button Enter presses.
    virtual Answer question(const QString& caption, const QString& text, Buttons buttons,
                            Answer defaultAnswer, Icon icon) = 0;
    // The chosen path, or empty on cancel.
    virtual QString openFile(const QString& title, const QString& filter,
                             const QString& folder) = 0;
    virtual QString saveFile(const QString& title, const QString& filter,
                             const QString& defaultSuffix, const QString& folder) = 0;
    // The answer; on cancel the preset text comes back, as the input box does.
    virtual QString inputBox(const QString& caption, const QString& prompt,
                             const QString& preset) = 0;
    // A question box with a button for each option and a Cancel button: the
    // index of the option chosen, -1 for Cancel.
    virtual int choose(const QString& caption, const QString& text, const QStringList& options) = 0;
};

// The real dialogs, on the given parent window.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    void message(const QString& text) override;
    void error(const QString& text) override;
    Answer question(const QString& caption, const QString& text, Buttons buttons,
                    Answer defaultAnswer, Icon icon) override;
    QString openFile(const QString& title, const QString& filter, const QString& folder) override;
    QString saveFile(const QString& title, const QString& filter, const QString& defaultSuffix,
                     const QString& folder) override;
    QString inputBox(const QString& caption, const QString& prompt, const QString& preset) override;
    int choose(const QString& caption, const QString& text, const QStringList& options) override;

    // "文本文件 (*.txt)|*.txt|所有文件 (*.*)|*.*" → Qt's "文本文件 (*.txt);;所有文件 (*.*)".
    static QString qtFilter(const QString& pipeFilter);

private:
    QWidget* m_parent;
};

} // namespace vx::app
