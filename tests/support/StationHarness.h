#pragma once

#include "app/Dialogs.h"
#include "app/TForm1.h"
#include "app/WindowSystem.h"
#include "scan/Alerts.h"
#include "tests/support/TempDir.h"

#include <QStringList>
#include <chrono>
#include <deque>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <memory>

namespace vx::test {

// Answers the station's dialogs from a script and records what was shown.
class ScriptedDialogs : public app::Dialogs {
public:
    // A question box as the operator saw it: "title|text|icon|buttons|default",
    // the icon and buttons by name ("Information", "Yes No").
    using SeenBox = QString;

    QStringList messages, errors;
    std::deque<Answer> answers;
    std::deque<QString> files, inputs;
    // When set, questions open the real message box, which is read into
    // boxes and answered from answers.
    bool realQuestionBoxes = false;
    QStringList boxes;
    // When set, file dialogs open the real dialog, which is cancelled once
    // its model has described every file it lists (name, type and icon: what
    // a dialog may read a file for); "title|folder" of each goes into
    // fileDialogs, with "|not listed" when it listed nothing in 10 s.
    bool realFileDialogs = false;
    QStringList fileDialogs;
    // When set, the operator goes to this folder in a real file dialog first.
    QString fileDialogFolder;

    void message(const QString& text) override { messages << text; }
    void error(const QString& text) override { errors << text; }
    Answer question(const QString& caption, const QString& text, Buttons buttons,
                    Answer defaultAnswer, Icon icon) override;
    // The file type filter of each open-file dialog, as it was given.
    QStringList filters;
    QString openFile(const QString& title, const QString& filter, const QString& folder) override;
    QString saveFile(const QString& title, const QString& filter, const QString& defaultSuffix,
                     const QString& folder) override;
    QString inputBox(const QString&, const QString& prompt, const QString& preset) override {
        prompts << prompt + "|" + preset;
        return next(inputs, preset);
    }
    // The option boxes as shown ("caption|text|option option"), answered
    // from choices (-1 when none is left: Cancel).
    QStringList choiceBoxes;
    std::deque<int> choices;
    // With realQuestionBoxes the real box opens, and what it shows goes into
    // boxes ("title|text|icon|buttons|default", the buttons by their texts).
    int choose(const QString& caption, const QString& text, const QStringList& options) override;
    // The input boxes' prompts with their preset texts ("prompt|preset").
    QStringList prompts;

private:
    void cancelFileDialogWhenListed();
    template <class T> static T next(std::deque<T>& q, T fallback) {
        if (q.empty())
            return fallback;
        T v = q.front();
        q.pop_front();
        return v;
    }
};

struct RecordingSound : scan::SoundPlayer {
    std::vector<std::string> played;
    void play(const std::string& path) override { played.push_back(path); }
};

struct FakeWindows : app::WindowSystem {
    int fronts = 0;
    app::NativeWindow barTender = 0;
    app::NativeWindow findTitleContaining(const std::string&) override { return barTender; }
    void captureForeground() override {}
    void bringToFront(app::NativeWindow) override { ++fronts; }
    std::string title(app::NativeWindow) override { return {}; }
};

// One scan handed to the station as the port would, and shown.
void scanText(app::TForm1& f, const std::string& text, bool compare = true);

// Runs the window's event loop (and so the serial hand-overs and queued
// reports) until pred holds; false when it did not within timeout.
bool waitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// The offscreen window tests' main: QT_QPA_PLATFORM from $VEXORA_TEST_QPA
// (by default offscreen, on one screen of $VEXORA_TEST_SCREEN, WIDTHxHEIGHT,
// 1920x1080 unless set), the application named as the station's.
int runWindowTests(int argc, char** argv);

// A station folder with its own config.ini, and the window on it.
class StationHarness {
public:
    StationHarness();
    ~StationHarness();
    // Writes config.ini before start().
    void config(const std::string& contents);
    // Creates the window and shows it, which runs the start-up sequence.
    app::TForm1& start();
    // Writes config.ini with contents, then starts.
    app::TForm1& start(const std::string& contents) {
        config(contents);
        return start();
    }
    app::TForm1& form() { return *m_form; }
    std::string ini() const { return readFile(dir.file("config.ini")); }
    // Fills a15 in the folder's station.db with the given texts.
    void seedDatabase(const std::vector<std::string>& texts,
                      const std::string& file = "station.db");
    // Runs statements on a database file of the folder, beside the window.
    void sql(std::initializer_list<std::string> statements,
             const std::string& file = "station.db") const;
    void sql(const std::string& statement, const std::string& file = "station.db") const {
        sql({statement}, file);
    }
    // The first column of a query's rows, as text.
    std::vector<std::string> column(const std::string& query,
                                    const std::string& file = "station.db") const;
    // "bh|tt|pic|prned" of every record of table in bh order, a NULL pic as NULL.
    std::vector<std::string> records(const std::string& table = "a15",
                                     const std::string& file = "station.db") const;

    TempDir dir;
    ScriptedDialogs dialogs;
    RecordingSound sound;
    FakeWindows windows;
    QStringList opened;
    // The print back ends the window is given.
    print::BackendFactory printBackends = print::platformBackends();
    // As an installed program's station has them: where the program's help
    // is, and the folder in the title.
    QString programFiles;
    bool folderInTitle = false;

private:
    std::unique_ptr<app::TForm1> m_form;
};

} // namespace vx::test

// QStrings in test failures as their text.
void PrintTo(const QString& s, std::ostream* os);
