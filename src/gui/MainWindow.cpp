#include "gui/MainWindow.h"

#include "app/AccelMap.h"
#include "app/COptions.h"
#include "app/CommandTable.h"
#include "app/ControlMapStore.h"
#include "app/HelpTopics.h"
#include "app/UpdateVersion.h"
#include "edit/CueDialogModel.h"
#include "edit/UndoHistory.h"
#include "edit/UndoStep.h"
#include "gui/AccelMapEditor.h"
#include "gui/ControlMapDialog.h"
#include "gui/CueDialog.h"
#include "gui/LyricWidget.h"
#include "gui/NewDialog.h"
#include "gui/OptionsSheet.h"
#include "gui/SetView.h"
#include "gui/SyncDialog.h"
#include "gui/SynthDatabaseDialog.h"
#include "playback/MicrosecondClock.h"
#include "rig/CommandDispatch.h"
#include "rig/EngineRig.h"
#include "rig/Session.h"
#include "set/CLiveDoc.h"
#include "set/DataFolder.h"
#include "set/RecentList.h"
#include "song/Profile.h"
#include "song/Song.h"
#include "song/TimeCode.h"
#include "synthdb/SynthLookup.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include <cmath>
#include <iostream>
#include <tuple>

namespace cantivo {

// The beat indicator: a lamp that lights on each beat and fades through it.
class BeatIndicator final : public QWidget {
  public:
    explicit BeatIndicator(QWidget* parent) : QWidget(parent)
    {
        setObjectName("beat");
        setFixedSize(18, 18);
    }
    void SetPhase(double phase)
    {
        const int level = static_cast<int>(std::lround(255 * (1.0 - std::clamp(phase - std::floor(phase), 0.0, 1.0))));
        if (level != level_) {
            level_ = level;
            update();
        }
    }

  protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::darkGray);
        painter.setBrush(QColor(40 + level_ * 215 / 255, 40 + level_ * 120 / 255, 40));
        painter.drawEllipse(rect().adjusted(2, 2, -2, -2));
    }

  private:
    int level_ = 0;
};

namespace {

using C = CommandId;

struct MenuLayout {
    const char* title;
    std::initializer_list<CommandId> commands; // Menu* entries are separators
};

// The menus in their order; commands the program does not offer yet stay in place, disabled.
const MenuLayout Menus[] = {
    {"&File",
     {C::NewSongOrSet, C::Open, C::ImportSongs, C::Save, C::SaveAll, C::CloseAll, C::MenuFile, C::RevertToPreviousSong,
      C::MenuFile, C::Exit}},
    {"&Edit",
     {C::Undo, C::Redo, C::MenuEdit, C::Cut, C::Copy, C::Paste, C::Delete, C::SelectAll, C::MenuEdit, C::Properties}},
    {"&View", {C::ViewLyrics, C::ViewSetTimes, C::MenuView, C::BouncingBall}},
    {"&Insert", {C::InsertCue}},
    {"&Sequencer",
     {C::Play,
      C::PauseUnpause,
      C::Pause,
      C::Stop,
      C::Record,
      C::MenuSequencer,
      C::RepeatMeasure,
      C::SkipNextMeasure,
      C::LastVamp,
      C::MenuSequencer,
      C::GotoBeginning,
      C::GotoEnd,
      C::GotoPreviousCue,
      C::GotoNextCue,
      C::PreviousMeasure,
      C::NextMeasure,
      C::PreviousNote,
      C::NextNote,
      C::MenuSequencer,
      C::NextSong,
      C::PreviousSong,
      C::Go,
      C::AdvanceNo,
      C::AdvanceWait,
      C::AdvancePlay,
      C::MenuSequencer,
      C::ResetMidi,
      C::FreeStuckNotes}},
    {"&Adjust",
     {C::TempoSlower, C::TempoNormal, C::TempoFaster, C::MenuAdjust, C::VolumeDown, C::VolumeFull, C::VolumeUp}},
    {"Set&up",
     {C::SetupPorts, C::SetupSynths, C::Synchronization, C::ExternalControl, C::KeyboardAccelerators, C::MenuSetup,
      C::Options}},
    {"&Help", {C::HelpContents, C::CheckForUpdates, C::MenuHelp, C::About}},
};

bool IsSeparator(CommandId id)
{
    switch (id) {
    case C::MenuFile:
    case C::MenuEdit:
    case C::MenuView:
    case C::MenuSequencer:
    case C::MenuAdjust:
    case C::MenuSetup:
    case C::MenuHelp:
        return true;
    default:
        return false;
    }
}

QKeySequence KeyOf(const AccelEntry& entry)
{
    int key = 0;
    if ((entry.flags & AccelVirtualKey) != 0) {
        const std::optional<int> qtKey = QtKeyFromVirtualKey(entry.key);
        if (!qtKey)
            return {};
        key = *qtKey;
    } else {
        key = QChar(entry.key).toUpper().unicode();
    }
    return QKeySequence(key | QtModifiersFromAccelFlags(entry.flags));
}

} // namespace

MainWindow::MainWindow(Session& session, std::ostringstream& messages, EngineRig& rig, const MicrosecondClock& clock)
    : session_(session), messages_(messages), rig_(rig), clock_(clock), commands_(rig.Engine())
{
    setObjectName("mainWindow");
    setWindowTitle("Cantivo");
    setView_ = new SetView(this);
    setCentralWidget(setView_);
    connect(setView_, &SetView::Go, this, [this](int position, int cue) {
        if (show_ != nullptr && show_->View() != nullptr)
            show_->View()->Go(position, cue);
        SongChanged();
    });
    connect(setView_, &SetView::Expand, this, [this](int position, bool expanded) {
        if (show_ != nullptr && show_->View() != nullptr)
            show_->View()->SetExpanded(position, expanded);
    });
    lyrics_ = new LyricWidget(this);
    lyricDock_ = new QDockWidget("Lyrics", this);
    lyricDock_->setObjectName("lyricDock");
    lyricDock_->setWidget(lyrics_);
    addDockWidget(Qt::RightDockWidgetArea, lyricDock_);
    resizeDocks({lyricDock_}, {460}, Qt::Horizontal);
    // The singers' window: top-level, for a second screen facing the stage.
    lyricWindow_ = new LyricWidget(nullptr);
    lyricWindow_->setWindowTitle("Cantivo - Lyrics");
    lyricWindow_->resize(800, 500);
    lyricWindow_->installEventFilter(this);
    lyricMetricsTimer_.setSingleShot(true);
    lyricMetricsTimer_.setInterval(500);
    connect(&lyricMetricsTimer_, &QTimer::timeout, this, [this] {
        if (lyricWindow_->isVisible())
            StoreLyricPlacement();
    });
    BuildMenus();
    BuildTransportBar();
    ApplyAcceleratorMap();
    setTimes_ = new QLabel(this);
    statusBar()->addPermanentWidget(setTimes_);
    statusBar()->showMessage("Ready");
    display_ = DisplayLive::Read(*session_.Context().profile);
    RestoreWindowMetrics();
    ApplyLyricOptions();
    connect(&turn_, &QTimer::timeout, this, &MainWindow::Turn);
    turn_.start(5);
    // A drag moves the window many times a second; the placement is written once it comes to rest.
    metricsTimer_.setSingleShot(true);
    metricsTimer_.setInterval(500);
    connect(&metricsTimer_, &QTimer::timeout, this, &MainWindow::StoreWindowMetrics);
}

MainWindow::~MainWindow()
{
    turn_.stop();
    rig_.OnInput(nullptr);
    control_.reset();
    show_.reset();
    lyricWindow_->removeEventFilter(this);
    delete lyricWindow_;
}

void MainWindow::BuildMenus()
{
    for (const MenuLayout& entry : Menus) {
        QMenu* menu = menuBar()->addMenu(entry.title);
        for (const CommandId id : entry.commands) {
            if (IsSeparator(id))
                menu->addSeparator();
            else
                AddCommand(menu, ToNumber(id));
        }
        if (entry.commands.begin()[0] == C::NewSongOrSet) {
            // The recent lists sit in the File menu, above Exit.
            QAction* exit = actions_[ToNumber(C::Exit)];
            recentSets_ = new QMenu("Recent sets", menu);
            recentSets_->setObjectName("recentSets");
            recentSongs_ = new QMenu("Recent songs", menu);
            recentSongs_->setObjectName("recentSongs");
            menu->insertMenu(exit, recentSets_);
            menu->insertMenu(exit, recentSongs_);
            menu->insertSeparator(exit);
        }
    }
    // The lyric views' follow styles, kept in "LyricView" "Tool"; "Bouncing ball" is the bindable one.
    QMenu* view = menuBar()->actions()[2]->menu();
    followStyles_ = new QActionGroup(this);
    QAction* ball = actions_[ToNumber(C::BouncingBall)];
    ball->setCheckable(true);
    followStyles_->addAction(ball);
    int tool = 1;
    for (const char* name : {"Highlight syllables", "Highlight lines", "Show object grid"}) {
        QAction* style = view->addAction(name);
        style->setObjectName(QString("lyricFollow%1").arg(tool));
        style->setCheckable(true);
        followStyles_->addAction(style);
        connect(style, &QAction::triggered, this, [this, tool] { SetLyricFollow(tool); });
        ++tool;
    }
    for (LyricWidget* lyrics : {lyrics_, lyricWindow_}) {
        lyrics->setContextMenuPolicy(Qt::ActionsContextMenu);
        lyrics->addActions(followStyles_->actions());
    }
    // The lyric pane's own toggle.
    view->addSeparator();
    view->addAction(lyricDock_->toggleViewAction());
    RebuildRecentMenus();
}

QAction* MainWindow::AddCommand(QMenu* menu, uint16_t command)
{
    const CommandInfo* info = FindCommand(command);
    const QString name = QString::fromUtf8(FunctionName(command).c_str());
    auto* action = new QAction(name, this);
    action->setObjectName(QString("command%1").arg(command));
    if (info != nullptr) {
        action->setStatusTip(QString::fromUtf8(info->prompt.data(), static_cast<qsizetype>(info->prompt.size())));
        action->setToolTip(name);
    }
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    menu->addAction(action);
    actions_[command] = action;
    return action;
}

void MainWindow::ApplyAcceleratorMap()
{
    for (auto& [command, action] : actions_)
        action->setShortcuts({});
    const ActiveAccelTable table = AccelMapStore(*session_.Context().profile).Activate();
    if (!table.enabled)
        return;
    std::map<uint16_t, QList<QKeySequence>> keys;
    for (const AccelEntry& entry : table.entries)
        if (const QKeySequence key = KeyOf(entry); !key.isEmpty())
            keys[entry.command].append(key);
    for (auto& [command, sequences] : keys) {
        auto found = actions_.find(command);
        if (found == actions_.end()) {
            // A bound command with no menu place still answers its key.
            auto* action = new QAction(QString::fromUtf8(FunctionName(command).c_str()), this);
            action->setShortcutContext(Qt::WindowShortcut);
            const uint16_t id = command;
            connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
            addAction(action);
            found = actions_.emplace(command, action).first;
        }
        found->second->setShortcuts(sequences);
    }
}

void MainWindow::BuildTransportBar()
{
    QToolBar* bar = addToolBar("Transport");
    bar->setObjectName("transport");
    bar->setMovable(false);
    for (const CommandId id : {C::Play, C::PauseUnpause, C::Stop, C::Record, C::GotoPreviousCue, C::GotoNextCue,
                               C::PreviousSong, C::NextSong})
        bar->addAction(actions_[ToNumber(id)]);
    // The position display on a row of its own, so it never folds away behind the buttons.
    addToolBarBreak();
    bar = addToolBar("Position");
    bar->setObjectName("positionBar");
    bar->setMovable(false);
    beat_ = new BeatIndicator(bar);
    bar->addWidget(beat_);
    position_ = new QLabel(bar);
    position_->setObjectName("position");
    position_->setMinimumWidth(230);
    QFont mono = position_->font();
    mono.setFamily("Liberation Mono");
    mono.setStyleHint(QFont::Monospace);
    position_->setFont(mono);
    bar->addWidget(position_);
    tempo_ = new QLabel(bar);
    tempo_->setObjectName("tempo");
    tempo_->setFont(mono);
    bar->addWidget(tempo_);
    bar->addSeparator();
    bar->addWidget(new QLabel("Volume ", bar));
    volume_ = new QSlider(Qt::Horizontal, bar);
    volume_->setObjectName("volume");
    volume_->setRange(0, Sequencer::FullVolume);
    volume_->setFixedWidth(120);
    volume_->setValue(rig_.Engine().MasterVolume());
    connect(volume_, &QSlider::valueChanged, this, [this](int value) { rig_.Engine().SetMasterVolume(value); });
    bar->addWidget(volume_);
}

void MainWindow::RebuildRecentMenus()
{
    Profile& profile = *session_.Context().profile;
    for (auto [menu, list, set] :
         {std::tuple{recentSets_, RecentSets(profile), true}, std::tuple{recentSongs_, RecentSongs(profile), false}}) {
        menu->clear();
        int number = 1;
        for (const std::string& path : list.Entries()) {
            const QString file = QString::fromStdString(path);
            QAction* action = menu->addAction(QString("&%1 %2").arg(number++).arg(QFileInfo(file).fileName()));
            action->setStatusTip(file);
            // Queued: opening rebuilds this menu, which deletes the action that was triggered.
            connect(
                action, &QAction::triggered, this, [this, file, set] { OpenRecent(file, set); }, Qt::QueuedConnection);
        }
        menu->setEnabled(!list.Entries().empty());
    }
}

bool MainWindow::OpenRecent(const QString& path, bool set)
{
    if (CLiveDoc::ForgetMissingRecent(session_.Context(), path.toStdString(), set)) {
        RebuildRecentMenus();
        return false;
    }
    return OpenPath(path);
}

bool MainWindow::OpenPath(const QString& path)
{
    const std::string file = path.toStdString();
    if (!IsSetPath(file) && !IsSongPath(file)) {
        session_.Prompts().Show("Cantivo does not recognize that file type.", PromptIcon::Error);
        return false;
    }
    if (!SaveModifiedFirst())
        return false;
    messages_.str("");
    auto next = std::make_unique<Show>(session_);
    next->AllowEmptySet(true);
    next->OfferUnlistedSongs(true);
    int exitCode = 0;
    if (!next->Open("", path.toStdString(), "", exitCode)) {
        ShowMessages(true);
        statusBar()->showMessage("Could not open " + path, 5000);
        return false;
    }
    rig_.Engine().Stop();
    rig_.OnInput(nullptr);
    control_.reset();
    show_ = std::move(next);
    ClockScheduler& scheduler = show_->Begin(rig_, clock_);
    // A control map's action runs as its menu item would, with the same enabling and the same updates.
    control_ = std::make_unique<ControlActions>(rig_.Engine(), scheduler, [this](uint16_t command) {
        RunCommand(command);
        return CommandOutcome::Done;
    });
    control_->SetHeldProbe([this] { return rig_.ControlHeld(); });
    rig_.OnInput([this](const EngineNotification& notification) {
        if (notification.message == EngineMessage::MsgSongSelect && show_->View() != nullptr)
            show_->View()->SongSelect(notification.value);
        else if (control_ != nullptr)
            control_->Handle(notification);
    });
    show_->Remember();
    RebuildRecentMenus();
    ShowMessages(false);
    SongChanged();
    statusBar()->showMessage("Opened " + path, 3000);
    return true;
}

SaveQuestion MainWindow::AskToSave()
{
    Prompter& prompts = session_.Prompts();
    return [&prompts](const std::string& title) {
        const PromptAnswer answer =
            prompts.AskOrDecline("Save changes to " + title + "?", PromptButtons::YesNo, PromptIcon::Question);
        return answer == PromptAnswer::Yes  ? SaveAnswer::Save
               : answer == PromptAnswer::No ? SaveAnswer::Discard
                                            : SaveAnswer::Cancel;
    };
}

bool MainWindow::SaveModifiedFirst()
{
    // What is open keeps its changes only if the user says so; Cancel (or closing the box) keeps it open.
    if (show_ == nullptr || show_->Document() == nullptr)
        return true;
    std::string error;
    if (show_->Document()->SaveModified(AskToSave(), error))
        return true;
    if (!error.empty())
        session_.Prompts().Show(error, PromptIcon::Error);
    return false;
}

void MainWindow::OpenLastAtStartup()
{
    Profile& profile = *session_.Context().profile;
    const std::string last = profile.GetString("StartupOptions", "AutoOpenPath", "");
    if (profile.GetInt("StartupOptions", "AutoOpen", 1) == 1 && !last.empty() && show_ == nullptr)
        OpenPath(QString::fromStdString(last));
}

void MainWindow::OpenOptions(int page)
{
    Profile& profile = *session_.Context().profile;
    OptionsLive live;
    SynthLookup synths(session_.SynthDb());
    live.playback = PlaybackChoices::Read(profile, synths);
    live.display = display_;
    live.documentsFolder = QDir::homePath().toStdString();
    OptionsSheet sheet(profile, session_.Prompts(), live, page, this);
    if (sheet.exec() != QDialog::Accepted)
        return;
    const OptionsOutcome& outcome = sheet.Outcome();
    const COptions& options = sheet.Options();
    // What OK changed takes effect at once, except the timer's period, which the play thread keeps for
    // its life (as the page's "min:"/"max:" values are the device's, read once).
    Sequencer& engine = rig_.Engine();
    if (outcome.Applied(OptionsPage::Playback) || outcome.Applied(OptionsPage::Record))
        engine.SetClick(options.playback.Click(options.record.click));
    if (outcome.Applied(OptionsPage::Playback)) {
        engine.SetOptions(options.playback.SequencerOptions());
        if (options.playback.timerResolution != engine.TimerPeriodMilliseconds())
            statusBar()->showMessage(QString("The timer resolution of %1 ms takes effect when Cantivo starts again.")
                                         .arg(options.playback.timerResolution),
                                     8000);
    }
    if (outcome.Applied(OptionsPage::Display))
        display_ = options.display.values;
    if (outcome.Applied(OptionsPage::Save) && show_ != nullptr)
        show_->RestartAutosave(options.save.AutosaveTimerOn());
    if (outcome.Applied(OptionsPage::Conductor))
        engine.SetFollowTap(FollowTapSettings::Read(profile));
    if (outcome.Applied(OptionsPage::Lyrics) || outcome.Applied(OptionsPage::Macros))
        ApplyLyricOptions();
}

void MainWindow::NewSongOrSet()
{
    if (show_ == nullptr || show_->Document() == nullptr)
        return;
    CLiveDoc& doc = *show_->Document();
    Profile& profile = *session_.Context().profile;
    const std::string templates = FindDataFolder() + "/templates";
    const std::vector<std::string> choices = doc.NewChoices(templates);
    std::string location = QDir::homePath().toStdString();
    if (profile.GetInt("SaveOptions", "DefPath", 0) != 0)
        location = profile.GetString("SaveOptions", "Path", location);
    if (!doc.IsClosed())
        location = QFileInfo(QString::fromStdString(doc.PathName())).absolutePath().toStdString();
    int initial = 0;
    if (!doc.IsClosed()) {
        initial = profile.GetInt("SaveOptions", "Template", 1);
        if (initial < 0 || initial >= static_cast<int>(choices.size()))
            initial = 1;
    }
    NewDialog dialog(choices, initial, location, !doc.IsClosed(), this);
    // A refusal ("The specified location is invalid...") is shown and the dialog stays.
    while (dialog.exec() == QDialog::Accepted) {
        NewRequest request = dialog.Request();
        if (int position = -1, cue = -1; setView_->CurrentRow(position, cue))
            request.position = position;
        std::string error;
        if (!doc.NewSongOrSet(request, templates, error)) {
            if (!error.empty())
                session_.Prompts().Show(error, PromptIcon::Error);
            continue;
        }
        // A new set, or a song standing alone, is opened as any file is; a song added to the open
        // set is already in the set view.
        const std::string made = doc.PathName();
        if (request.choice == "Empty Set" || !request.addToSet || doc.IsClosed()) {
            const Song* current = doc.CurrentSong();
            OpenPath(
                QString::fromStdString(request.choice == "Empty Set" || current == nullptr ? made : current->pathName));
        }
        SongChanged();
        return;
    }
}

void MainWindow::ImportSongs()
{
    if (show_ == nullptr || show_->Document() == nullptr || show_->Document()->IsClosed())
        return;
    const QStringList files =
        QFileDialog::getOpenFileNames(this, "Import (copy) song(s) into set...", QString(),
                                      "MIDI files (*.mid *.midi *.smf *.kar *.rss);;All files (*)");
    if (files.isEmpty())
        return;
    std::vector<std::string> paths;
    for (const QString& file : files)
        paths.push_back(file.toStdString());
    int position = -1, cue = -1;
    if (!setView_->CurrentRow(position, cue) || position < 0)
        position = show_->Document()->SongCount();
    show_->Document()->ImportSongs(paths, position);
    SongChanged();
}

void MainWindow::DeleteSong()
{
    int position = -1, cue = -1;
    if (show_ == nullptr || show_->Document() == nullptr || !setView_->CurrentRow(position, cue) || cue >= 0 ||
        position < 0 || position >= show_->Document()->SongCount())
        return;
    CLiveDoc& doc = *show_->Document();
    const std::optional<DeleteChoice> choice =
        AskDeleteChoice(doc.SongAt(position).title, doc.StoredDeleteChoice(), this);
    if (!choice)
        return;
    if (doc.DeleteSong(position, *choice, AskToSave()))
        SongChanged();
}

void MainWindow::InsertCue()
{
    Song* song = show_ != nullptr ? show_->Current() : nullptr;
    if (song == nullptr)
        return;
    song->currentPosition = rig_.Engine().Position();
    CueDialogModel model = CueDialogModel::ForInsertion(*song);
    CueDialog dialog(model, session_.Prompts(), this);
    if (dialog.exec() != QDialog::Accepted || !dialog.Result())
        return;
    // An undoable step of the song's own history; the engine plays the new cue at once.
    auto step = std::make_unique<UndoStep>(StepCues, "Insert Cue");
    step->cues.InsertByTime(*dialog.Result());
    if (SubmitStep(*song, std::move(step))) {
        rig_.Rebuild(*song);
        SongChanged();
    }
}

void MainWindow::ApplyLyricOptions()
{
    const COptions stored(*session_.Context().profile, OptionsLive{});
    LyricOptions options;
    const COptionsLyric& page = stored.lyric;
    options.fontName = page.fontName;
    options.fontHeight = page.fontHeight;
    options.fontWeight = page.fontWeight;
    options.color = static_cast<uint32_t>(page.color);
    options.backcolor = static_cast<uint32_t>(page.backColor);
    options.color2 = static_cast<uint32_t>(page.highlightColor);
    options.backcolor2 = static_cast<uint32_t>(page.highlightBackColor);
    options.center = page.center;
    options.paginate = page.paginate;
    options.graphic = page.graphic;
    options.gfxPath = page.graphicPath;
    options.stretch = page.placement;
    for (size_t i = 0; i < options.macros.size() && i < stored.macros.texts.size(); ++i)
        options.macros[i] = stored.macros.texts[i];
    options.tool = session_.Context().profile->GetInt("LyricView", "Tool", 0);
    const int tool = static_cast<int>(options.Follow());
    if (tool >= 0 && tool < followStyles_->actions().size())
        followStyles_->actions()[tool]->setChecked(true);
    lyrics_->SetOptions(options);
    lyricWindow_->SetOptions(options);
}

void MainWindow::SetLyricFollow(int tool)
{
    session_.Context().profile->WriteInt("LyricView", "Tool", tool);
    ApplyLyricOptions();
}

void MainWindow::StoreLyricPlacement()
{
    Profile& profile = *session_.Context().profile;
    const bool maximized = lyricWindow_->isMaximized() || lyricWindow_->isFullScreen();
    const QRect frame = maximized ? lyricWindow_->normalGeometry() : lyricWindow_->geometry();
    profile.WriteInt("LyricView", "X", frame.x());
    profile.WriteInt("LyricView", "Y", frame.y());
    profile.WriteInt("LyricView", "CX", frame.width());
    profile.WriteInt("LyricView", "CY", frame.height());
    profile.WriteInt("LyricView", "Maximized", maximized ? 1 : 0);
}

void MainWindow::ShowLyricWindow()
{
    const Profile& profile = *session_.Context().profile;
    const QList<QScreen*> screens = QGuiApplication::screens();
    // Nothing stored yet and a second screen (the one facing the singers): the lyrics fill it.
    if (profile.GetInt("LyricView", "CX", -1) < 0 && screens.size() > 1) {
        lyricWindow_->setGeometry(screens[1]->availableGeometry());
        lyricWindow_->showFullScreen();
        lyricWindow_->raise();
        return;
    }
    QRect frame(profile.GetInt("LyricView", "X", 0), profile.GetInt("LyricView", "Y", 0),
                std::max(profile.GetInt("LyricView", "CX", 500), 200),
                std::max(profile.GetInt("LyricView", "CY", 500), 120));
    // A placement on a screen that is gone comes back onto the main one.
    const bool onScreen = std::any_of(screens.begin(), screens.end(), [&frame](const QScreen* screen) {
        return screen->availableGeometry().intersects(frame);
    });
    if (!onScreen && QGuiApplication::primaryScreen() != nullptr)
        frame.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
    lyricWindow_->setGeometry(frame);
    if (profile.GetInt("LyricView", "Maximized", 0) != 0)
        lyricWindow_->showMaximized();
    else
        lyricWindow_->showNormal();
    lyricWindow_->raise();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lyricWindow_ && lyricMetricsReady_) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            lyricMetricsTimer_.start();
            break;
        case QEvent::Hide:
        case QEvent::Close:
            lyricMetricsTimer_.stop();
            StoreLyricPlacement();
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::CheckForUpdates(bool byCommand)
{
    const UpdateSettings settings = ReadUpdateSettings(*session_.Context().profile);
    if (!byCommand && !settings.checkAtStartUp)
        return;
    updates_.Start(settings.url, [this, byCommand, settings](const UpdateResult& result) {
        const bool canDownload = !settings.downloadUrl.empty();
        const std::optional<std::string> text = UpdateMessage(result, byCommand, canDownload);
        if (!text)
            return;
        if (result.status == UpdateStatus::Available && canDownload) {
            if (session_.Prompts().Ask(*text, PromptButtons::YesNo, PromptIcon::Question))
                QDesktopServices::openUrl(QUrl(QString::fromStdString(settings.downloadUrl)));
        } else {
            session_.Prompts().Show(*text, PromptIcon::Information);
        }
    });
}

void MainWindow::ShowMessages(bool error)
{
    std::string text = messages_.str();
    messages_.str("");
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty())
        session_.Prompts().Show(text, error ? PromptIcon::Error : PromptIcon::Information);
}

void MainWindow::RunCommand(uint16_t command)
{
    if (!IsEnabled(command)) {
        statusBar()->showMessage(QString("\"%1\" is not available now.").arg(FunctionName(command).c_str()), 3000);
        return;
    }
    if (show_ != nullptr && CommandDispatch::Handles(command)) {
        (void)CommandDispatch(*show_, rig_.Engine()).Run(command);
        if (Show::IsSetCommand(command))
            SongChanged();
        return;
    }
    RunWindowCommand(command);
}

bool MainWindow::RunWindowCommand(uint16_t command)
{
    SetViewModel* view = show_ != nullptr ? show_->View() : nullptr;
    switch (static_cast<CommandId>(command)) {
    case C::Open: {
        const QString path = QFileDialog::getOpenFileName(this, "Open", QString(),
                                                          "Cantivo Sets and MIDI Files (*.set *.mid *.midi *.kar);;"
                                                          "Cantivo Sets (*.set);;MIDI Files (*.mid *.midi *.kar)");
        if (!path.isEmpty())
            OpenPath(path);
        return true;
    }
    case C::SaveAll:
        if (show_ != nullptr && show_->Document() != nullptr) {
            std::string error;
            if (!show_->Document()->SaveAll(error))
                session_.Prompts().Show(error, PromptIcon::Error);
            SongChanged();
        }
        return true;
    case C::Exit:
        close();
        return true;
    case C::Go:
        if (int position = -1, cue = -1; view != nullptr && setView_->CurrentRow(position, cue)) {
            view->Go(position, cue);
            SongChanged();
        }
        return true;
    case C::AdvanceNo:
    case C::AdvanceWait:
    case C::AdvancePlay:
        if (view != nullptr)
            view->SetAutoAdvance(command - ToNumber(C::AdvanceNo));
        RefreshEnabling();
        return true;
    case C::ViewSetTimes:
        if (view != nullptr)
            view->SetViewSetTimes(!view->ViewSetTimes());
        return true;
    case C::ViewLyrics:
        if (lyricWindow_->isVisible()) {
            lyricWindow_->hide();
            return true;
        }
        lyricMetricsReady_ = false; // the placement being restored is not a move of the user's
        ShowLyricWindow();
        lyricMetricsReady_ = true;
        return true;
    case C::BouncingBall:
        SetLyricFollow(0);
        return true;
    case C::HelpContents:
    case C::Help:
        OpenHelp("index.html");
        return true;
    case C::CheckForUpdates:
        CheckForUpdates(true);
        return true;
    case C::Options:
        OpenOptions(0);
        return true;
    case C::InsertCue:
        InsertCue();
        return true;
    case C::NewSongOrSet:
        NewSongOrSet();
        return true;
    case C::ImportSongs:
        ImportSongs();
        return true;
    case C::Delete:
        DeleteSong();
        return true;
    case C::Undo:
    case C::Redo:
        if (Song* song = show_ != nullptr ? show_->Current() : nullptr) {
            UndoHistory& history = HistoryOf(*song);
            if (command == ToNumber(C::Undo) ? history.Undo(*song) : history.Redo(*song)) {
                rig_.Rebuild(*song);
                SongChanged();
            }
        }
        return true;
    case C::Synchronization: {
        Profile& profile = *session_.Context().profile;
        SyncDialog dialog(profile, session_.Prompts(), rig_.OutputNames(), rig_.InputNames(), this);
        if (dialog.exec() == QDialog::Accepted)
            rig_.Engine().SetSync(SyncSettings::Read(profile));
        return true;
    }
    case C::ExternalControl: {
        ControlMapStore store(*session_.Context().profile);
        ControlMapDialog dialog(store, session_.Prompts(), rig_.InputNames(), &rig_.Learner(), this);
        if (dialog.exec() == QDialog::Accepted)
            rig_.ReloadControlMap();
        return true;
    }
    case C::KeyboardAccelerators: {
        AccelMapStore store(*session_.Context().profile);
        AccelMapEditor dialog(store, session_.Prompts(), this);
        if (dialog.exec() == QDialog::Accepted)
            ApplyAcceleratorMap();
        return true;
    }
    case C::SetupSynths: {
        SynthDatabaseDialog dialog(session_.SynthDb(), session_.Prompts(), this);
        dialog.exec();
        return true;
    }
    case C::About:
        QMessageBox::about(
            this, "About Cantivo",
            QString("Cantivo %1\nA MIDI sequencer for live performance.").arg(QApplication::applicationVersion()));
        return true;
    default:
        return false;
    }
}

void MainWindow::OpenHelp(const QString& page)
{
    const QString file = QString::fromStdString(FindDataFolder()) + "/help/" + page;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
        statusBar()->showMessage("No browser could open " + file, 5000);
}

bool MainWindow::IsEnabled(uint16_t command) const
{
    const SetViewModel* view = show_ != nullptr ? show_->View() : nullptr;
    switch (static_cast<CommandId>(command)) {
    case C::Open:
    case C::Exit:
    case C::ViewLyrics:
    case C::Synchronization:
    case C::ExternalControl:
    case C::KeyboardAccelerators:
    case C::SetupSynths:
    case C::HelpContents:
    case C::Help:
    case C::About:
    case C::CheckForUpdates:
    case C::Options:
    case C::BouncingBall:
        return true;
    case C::SaveAll:
        return show_ != nullptr && show_->Document() != nullptr;
    case C::InsertCue:
        return show_ != nullptr && show_->Current() != nullptr && rig_.Engine().IsStopped();
    case C::NewSongOrSet:
        return show_ != nullptr && show_->Document() != nullptr && rig_.Engine().IsStopped();
    case C::ImportSongs:
    case C::Delete:
        return view != nullptr && !show_->Document()->IsClosed() && rig_.Engine().IsStopped();
    case C::Undo:
    case C::Redo: {
        Song* song = show_ != nullptr ? show_->Current() : nullptr;
        if (song == nullptr || !rig_.Engine().IsStopped())
            return false;
        const UndoHistory& history = HistoryOf(*song);
        return command == ToNumber(C::Undo) ? history.CanUndo() : history.CanRedo();
    }
    case C::NextSong:
    case C::PreviousSong:
    case C::Go:
    case C::AdvanceNo:
    case C::AdvanceWait:
    case C::AdvancePlay:
    case C::ViewSetTimes:
        return view != nullptr;
    case C::RevertToPreviousSong:
        return view != nullptr && view->CanRevert();
    case C::Record:
        return false; // recording comes with its own part of the program
    default:
        break;
    }
    if (TransportCommands::Handles(command))
        return show_ != nullptr && commands_.IsEnabled(command);
    return false;
}

void MainWindow::RefreshEnabling()
{
    const SetViewModel* view = show_ != nullptr ? show_->View() : nullptr;
    for (auto& [command, action] : actions_) {
        action->setEnabled(IsEnabled(command));
        const auto id = static_cast<CommandId>(command);
        if (id == C::AdvanceNo || id == C::AdvanceWait || id == C::AdvancePlay) {
            action->setCheckable(true);
            action->setChecked(view != nullptr && view->AutoAdvance() == command - ToNumber(C::AdvanceNo));
        }
    }
}

void MainWindow::Turn()
{
    if (show_ == nullptr) {
        rig_.HandleNotifications();
        RefreshTransport();
        return;
    }
    show_->Scheduler().RunDue();
    if (show_->HandleNotifications())
        SongChanged();
    if (show_->Current() != shownSong_)
        SongChanged();
    RefreshTransport();
}

void MainWindow::SongChanged()
{
    if (show_ == nullptr)
        return;
    // Edits inside a song (cues, the modified mark) are not the set view model's revisions.
    setView_->Refresh(show_->View(), true);
    shownSong_ = show_->Current();
    lyrics_->ShowSong(shownSong_);
    lyricWindow_->ShowSong(shownSong_);
}

void MainWindow::RefreshTransport()
{
    const Sequencer& engine = rig_.Engine();
    const Song* song = show_ != nullptr ? show_->Current() : nullptr;
    beat_->SetPhase(engine.BeatPhase());
    if (show_ != nullptr)
        setView_->Refresh(show_->View());
    if (song != nullptr) {
        const int32_t position = engine.Position();
        position_->setText(
            QString::fromStdString(TransportPositionText(*song, position) + "  " +
                                   TransportTimeText(song->TicksToMicroseconds(position), Milliseconds)));
        const auto& tempo = song->tempoMap.entries[static_cast<size_t>(song->tempoMap.FindTempo(position))];
        tempo_->setText(
            QString::fromStdString("  " + TransportTempoText(engine.TempoRatio(), tempo.microsecondsPerQuarter)));
        lyrics_->Follow(position);
        if (lyricWindow_->isVisible())
            lyricWindow_->Follow(position);
        const SetViewModel* view = show_->View();
        setTimes_->setText(
            view != nullptr && view->ViewSetTimes()
                ? QString::fromStdString("Set " + view->SetTimesText(song->TicksToMicroseconds(position) / 1e6))
                : QString());
    } else {
        position_->setText(show_ != nullptr && show_->View() != nullptr ? "End of set" : "No song");
        tempo_->clear();
    }
    if (volume_->value() != engine.MasterVolume()) {
        const QSignalBlocker block(volume_);
        volume_->setValue(engine.MasterVolume());
    }
    const std::string title =
        show_ != nullptr && show_->Document() != nullptr ? show_->Document()->WindowTitle("Cantivo") : "Cantivo";
    if (title != shownTitle_) {
        shownTitle_ = title;
        setWindowTitle(QString::fromStdString(title));
    }
    RefreshEnabling();
}

void MainWindow::QuitBySignal()
{
    if (quitting_)
        return;
    quitting_ = true;
    rig_.Engine().Stop();
    // Each rejected dialog returns from its exec once this turn of the event loop is over.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            modal->hide();
    }
    if (show_ != nullptr) {
        show_->WriteRecoveryFiles();
        if (const CLiveDoc* doc = show_->Document(); doc != nullptr && !doc->IsClosed() && doc->IsModified())
            std::cerr << "cantivo: stopped by a signal; the changes to the set's list of songs were not saved\n";
    }
    close();
    QApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!quitting_ && !SaveModifiedFirst()) {
        event->ignore();
        return;
    }
    // Nothing is left sounding, and the placement is kept for the next start.
    rig_.Engine().Stop();
    metricsTimer_.stop();
    StoreWindowMetrics();
    lyricWindow_->close();
    event->accept();
}

void MainWindow::StoreWindowMetrics()
{
    if (!metricsReady_)
        return;
    Profile& profile = *session_.Context().profile;
    const QRect frame = isMaximized() ? normalGeometry() : geometry();
    profile.WriteInt("WindowMetrics", "Left", frame.x());
    profile.WriteInt("WindowMetrics", "Top", frame.y());
    profile.WriteInt("WindowMetrics", "Width", frame.width());
    profile.WriteInt("WindowMetrics", "Height", frame.height());
    profile.WriteInt("WindowMetrics", "Maximized", isMaximized() ? 1 : 0);
}

void MainWindow::RestoreWindowMetrics()
{
    const Profile& profile = *session_.Context().profile;
    QRect frame(profile.GetInt("WindowMetrics", "Left", 80), profile.GetInt("WindowMetrics", "Top", 60),
                profile.GetInt("WindowMetrics", "Width", 1000), profile.GetInt("WindowMetrics", "Height", 640));
    // A placement stored on a screen that is gone comes back onto this one.
    if (const QScreen* screen = QApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        frame.setWidth(std::clamp(frame.width(), 400, std::max(available.width(), 400)));
        frame.setHeight(std::clamp(frame.height(), 300, std::max(available.height(), 300)));
        if (!available.intersects(frame))
            frame.moveTopLeft(available.topLeft());
    }
    setGeometry(frame);
    if (profile.GetInt("WindowMetrics", "Maximized", 0) != 0)
        setWindowState(windowState() | Qt::WindowMaximized);
    metricsReady_ = true;
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (metricsReady_)
        metricsTimer_.start();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (metricsReady_)
        metricsTimer_.start();
}

} // namespace cantivo
