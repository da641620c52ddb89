#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace cantivo {

class MainWindow;

// `cantivo --script FILE`: drives the running program the way a user would, for smoke runs and
// demonstrations. Lines "MILLISECONDS ACTION", the time counted from the window's showing:
//   a command's short name ("Play", "Next song") runs through the command dispatch;
//   "!screenshot NAME" saves the screen to NAME.png in the --screenshots folder;
//   "!options" opens the options sheet, "!lyrics" the singers' lyric window;
//   "!open PATH" opens a set or song; "!close" closes the dialog or message box in front;
//   "!quit" closes the main window as the user would.
// Blank lines and lines starting with "#" are comments.
class ScriptRunner final : public QObject {
    Q_OBJECT
  public:
    struct Step {
        int64_t milliseconds = 0;
        QString action;
        int line = 0;
    };
    // False with the reason in `error` for a line that is neither.
    static bool Parse(const QString& text, std::vector<Step>& steps, QString& error);

    ScriptRunner(MainWindow& window, std::vector<Step> steps, QString screenshots);
    void Start();

  private:
    void Run(const Step& step);

    MainWindow& window_;
    std::vector<Step> steps_;
    QString screenshots_;
};

} // namespace cantivo
