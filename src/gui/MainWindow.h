#pragma once

#include "app/ControlActions.h"
#include "app/OptionsPages.h"
#include "app/TransportCommands.h"
#include "platform/UpdateCheck.h"
#include "rig/Show.h"

#include <QMainWindow>
#include <QTimer>

#include <map>
#include <memory>
#include <sstream>

class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QMenu;
class QSlider;

namespace cantivo {

class BeatIndicator;
class EngineRig;
class LyricWidget;
class MicrosecondClock;
class Session;
class SetView;

// The main window: menus and toolbars from the command table with the active map's keys, the
// transport, the set view as the main pane, the lyric pane and the singers' lyric window. Every
// command, from a menu, a key, a control map or a script, goes through RunCommand. Engine
// notifications are drained on a 5 ms turn of the Qt main thread; nothing of the engine waits on it.
class MainWindow final : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(Session& session, std::ostringstream& messages, EngineRig& rig, const MicrosecondClock& clock);
    ~MainWindow() override;

    // Opens a set or a song and makes it current; a file that cannot be read is reported and the
    // window goes on with what it had.
    bool OpenPath(const QString& path);
    // An entry of the recent sets (`set`) or songs: a file that is gone is reported and leaves the list.
    bool OpenRecent(const QString& path, bool set);
    void RunCommand(uint16_t command);
    bool IsEnabled(uint16_t command) const;
    Show* CurrentShow() const { return show_.get(); }
    LyricWidget* LyricWindow() const { return lyricWindow_; }
    // The delayed start-up step: the set or song opened last, when "AutoOpen" says so.
    void OpenLastAtStartup();
    // The update check: quiet at start-up unless a newer release is out; the command says how it went.
    void CheckForUpdates(bool byCommand);
    // SIGTERM or SIGINT: the open dialogs are rejected, the engine stops (nothing left sounding), the
    // modified songs go to their recovery files instead of a question nobody answers, the placement
    // is written and the program quits.
    void QuitBySignal();
    bool Quitting() const { return quitting_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenus();
    QAction* AddCommand(QMenu* menu, uint16_t command);
    void ApplyAcceleratorMap();
    void BuildTransportBar();
    void RebuildRecentMenus();
    void Turn();
    void RefreshTransport();
    void RefreshEnabling();
    void SongChanged();
    void ShowMessages(bool error);
    bool SaveModifiedFirst();
    SaveQuestion AskToSave();
    void StoreWindowMetrics();
    void RestoreWindowMetrics();
    bool RunWindowCommand(uint16_t command);
    void OpenHelp(const QString& page);
    void OpenOptions(int page);
    void ApplyLyricOptions();
    void SetLyricFollow(int tool);
    void ShowLyricWindow();
    void StoreLyricPlacement();
    void InsertCue();
    void NewSongOrSet();
    void ImportSongs();
    void DeleteSong();

    Session& session_;
    std::ostringstream& messages_;
    EngineRig& rig_;
    const MicrosecondClock& clock_;
    TransportCommands commands_;
    std::unique_ptr<Show> show_;
    std::unique_ptr<ControlActions> control_;
    std::map<uint16_t, QAction*> actions_;
    QTimer turn_;
    QTimer metricsTimer_;
    QTimer lyricMetricsTimer_;
    QActionGroup* followStyles_ = nullptr;
    bool lyricMetricsReady_ = false;
    UpdateCheck updates_;
    SetView* setView_ = nullptr;
    LyricWidget* lyrics_ = nullptr;
    LyricWidget* lyricWindow_ = nullptr;
    QDockWidget* lyricDock_ = nullptr;
    QMenu* recentSets_ = nullptr;
    QMenu* recentSongs_ = nullptr;
    QLabel* position_ = nullptr;
    QLabel* tempo_ = nullptr;
    QLabel* setTimes_ = nullptr;
    QSlider* volume_ = nullptr;
    BeatIndicator* beat_ = nullptr;
    const Song* shownSong_ = nullptr;
    std::string shownTitle_;
    bool metricsReady_ = false;
    bool quitting_ = false;
    DisplayLive display_; // "DisplayOptions" as read at start-up and changed by the options sheet
};

} // namespace cantivo
