#pragma once

#include "app/COptions.h"

#include <QDialog>

#include <functional>
#include <vector>

class QTabWidget;

namespace cantivo {

class Profile;
class Prompter;

// "Cantivo Options...": the eleven pages as tabs over the options model. Every control writes its page's
// field as it changes; OK hands the visited pages to the model, which checks and stores them.
class OptionsSheet final : public QDialog {
    Q_OBJECT
  public:
    OptionsSheet(Profile& profile, Prompter& prompter, const OptionsLive& live, int page = 0,
                 QWidget* parent = nullptr);

    // What OK did; after exec() returned Accepted the program pushes the applied pages' live settings
    // from Options().
    const OptionsOutcome& Outcome() const { return outcome_; }
    const COptions& Options() const { return options_; }

    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* StartupPage();
    QWidget* PlaybackPage();
    QWidget* DisplayPage();
    QWidget* RecordPage();
    QWidget* StaffPage();
    QWidget* AudioPage();
    QWidget* SavePage();
    QWidget* LyricsPage();
    QWidget* ConductorPage();
    QWidget* SetPage();
    QWidget* MacrosPage();

    // Re-evaluates every enabling rule and every shown value that depends on others.
    void Refresh();
    void OnRefresh(std::function<void()> rule) { rules_.push_back(std::move(rule)); }

    Profile& profile_;
    Prompter& prompter_;
    COptions options_;
    OptionsOutcome outcome_;
    QTabWidget* tabs_;
    std::vector<std::function<void()>> rules_;
    bool adjustedShown_ = false;
};

} // namespace cantivo
