#include "gui/ScriptRunner.h"

#include "app/CommandTable.h"
#include "gui/LyricWidget.h"
#include "gui/MainWindow.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace cantivo {

bool ScriptRunner::Parse(const QString& text, std::vector<Step>& steps, QString& error)
{
    steps.clear();
    const QStringList lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.indexOf(' ');
        bool number = false;
        const int64_t milliseconds = line.left(space).toLongLong(&number);
        const QString action = space < 0 ? QString() : line.mid(space + 1).trimmed();
        if (!number || milliseconds < 0 || action.isEmpty()) {
            error = QString("line %1: \"%2\" is not \"MILLISECONDS ACTION\"").arg(i + 1).arg(line);
            return false;
        }
        if (!action.startsWith('!') && FindCommandByShortName(action.toStdString()) == nullptr) {
            error = QString("line %1: \"%2\" is no command's short name").arg(i + 1).arg(action);
            return false;
        }
        steps.push_back({milliseconds, action, i + 1});
    }
    return true;
}

ScriptRunner::ScriptRunner(MainWindow& window, std::vector<Step> steps, QString screenshots)
    : QObject(&window), window_(window), steps_(std::move(steps)), screenshots_(std::move(screenshots))
{
}

void ScriptRunner::Start()
{
    // Each step on its own timer, so a step that opens a dialog (a nested loop) does not hold the
    // next one back: a later "!close" closes it.
    for (const Step& step : steps_)
        QTimer::singleShot(static_cast<int>(step.milliseconds), this, [this, step] { Run(step); });
}

void ScriptRunner::Run(const Step& step)
{
    std::fprintf(stderr, "script line %d: %s\n", step.line, step.action.toUtf8().constData());
    const QString action = step.action;
    if (!action.startsWith('!')) {
        window_.RunCommand(FindCommandByShortName(action.toStdString())->id);
        return;
    }
    const QString verb = action.section(' ', 0, 0);
    const QString argument = action.section(' ', 1).trimmed();
    if (verb == "!screenshot") {
        QDir().mkpath(screenshots_);
        QPixmap shot;
        if (QScreen* screen = QGuiApplication::primaryScreen())
            shot = screen->grabWindow(0);
        // The offscreen platform has no screen to grab: the window draws itself instead.
        if (shot.isNull() || shot.toImage().allGray())
            shot = window_.grab();
        const QString file = QDir(screenshots_).filePath(argument + ".png");
        if (!shot.save(file))
            std::fprintf(stderr, "script line %d: could not save %s\n", step.line, file.toUtf8().constData());
    } else if (verb == "!options") {
        window_.RunCommand(ToNumber(CommandId::Options));
    } else if (verb == "!lyrics") {
        LyricWidget* lyrics = window_.LyricWindow();
        lyrics->show();
        lyrics->raise();
    } else if (verb == "!open") {
        window_.OpenPath(argument);
    } else if (verb == "!close") {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        else if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    } else if (verb == "!quit") {
        window_.close();
    } else {
        std::fprintf(stderr, "script line %d: unknown action %s\n", step.line, verb.toUtf8().constData());
    }
}

} // namespace cantivo
