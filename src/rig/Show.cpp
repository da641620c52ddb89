#include "rig/Show.h"

#include "app/CommandTable.h"
#include "app/PlaybackHalted.h"
#include "rig/EngineRig.h"
#include "rig/Session.h"
#include "set/RecentList.h"
#include "set/SetFile.h"
#include "song/PositionText.h"
#include "song/SongFileNames.h"

#include <filesystem>
#include <ostream>
#include <utility>

namespace cantivo {

bool IsSetPath(const std::string& path)
{
    return HasExtension(path, ".set");
}

bool IsSongPath(const std::string& path)
{
    return HasExtension(path, ".mid") || HasExtension(path, ".midi") || HasExtension(path, ".kar") ||
           HasExtension(path, ".smf") || HasExtension(path, ".rss");
}

Show::Show(Session& session) : session_(session) {}

Show::~Show()
{
    autosave_.reset();
    view_.reset();
    readAhead_.reset();
    set_.reset();
}

bool Show::Open(const std::string& prefix, const std::string& path, const std::string& startText, int& exitCode)
{
    Song* first = nullptr;
    std::error_code code;
    const std::filesystem::path absolute = std::filesystem::absolute(path, code);
    path_ = code ? path : absolute.lexically_normal().string();
    if (IsSetPath(path)) {
        set_ = std::make_unique<CLiveDoc>(session_.Context(), files_);
        std::string error;
        if (!set_->OpenSet(path_, error, offerUnlisted_)) {
            session_.Err() << prefix << error << "\nSorry, the set can not be opened--it may be damaged.\n";
            exitCode = ExitFileUnusable;
            return false;
        }
        for (int i = 0; i < set_->SongCount() && first == nullptr; ++i)
            if (set_->EnsureRead(i))
                first = &set_->SongAt(i);
        if (first == nullptr && !(allowEmptySet_ && set_->SongCount() == 0)) {
            session_.Err() << prefix << "the set " << path << " holds no song that can be read\n";
            exitCode = ExitFileUnusable;
            return false;
        }
    } else {
        song_ = std::make_unique<Song>(session_.Context());
        if (!session_.OpenSong(*song_, path)) {
            exitCode = ExitFileUnusable;
            return false;
        }
        first = song_.get();
    }
    if (startText.empty())
        return true;
    std::string error;
    const auto parsed = ParsePosition(*first, startText, error);
    if (!parsed) {
        session_.Err() << prefix << "--start: " << error << "\n";
        exitCode = ExitUsage;
        return false;
    }
    start_ = *parsed;
    return true;
}

ClockScheduler& Show::Begin(EngineRig& rig, const MicrosecondClock& clock)
{
    rig_ = &rig;
    scheduler_ = std::make_unique<ClockScheduler>(clock);
    ClockScheduler& scheduler = *scheduler_;
    rig.Engine().SetScheduler(&scheduler);
    if (!set_)
        set_ = std::make_unique<CLiveDoc>(session_.Context(), files_); // closed: the song stands alone
    autosave_ = std::make_unique<Autosave>(*set_, rig.Engine(), scheduler, *session_.Context().profile, files_);
    autosave_->Start();
    if (!openLast_.empty())
        scheduler.StartTimer(DelayedStartupTimer, DelayedStartupMicroseconds, [this] { DelayedStartup(); });
    else
        ActivateFirst();
    return scheduler;
}

bool Show::OpenLast(std::string& error)
{
    Profile& profile = *session_.Context().profile;
    const std::string last = profile.GetString("StartupOptions", "AutoOpenPath", "");
    if (profile.GetInt("StartupOptions", "AutoOpen", 1) != 1)
        error = "no FILE was given, and opening the last set or song at start-up is off (\"AutoOpen\" is 0)";
    else if (last.empty())
        error = "no FILE was given, and no set or song was opened before to open again";
    else
        openLast_ = last;
    return !openLast_.empty();
}

void Show::Remember() const
{
    Profile& profile = *session_.Context().profile;
    profile.WriteString("StartupOptions", "AutoOpenPath", path_);
    (IsSetPath(path_) ? RecentSets(profile) : RecentSongs(profile)).Add(path_);
}

void Show::DelayedStartup()
{
    scheduler_->KillTimer(DelayedStartupTimer);
    const std::string path = std::exchange(openLast_, "");
    session_.Err() << "Opening the last set or song: " << path << "\n";
    // A file that has gone or cannot be read is reported as any open reports it; the player then has
    // nothing to play and ends.
    int exitCode = 0;
    if (!Open("play", path, "", exitCode)) {
        ended_ = true;
        return;
    }
    ActivateFirst();
    rig_->Engine().PlayTap();
}

void Show::ActivateFirst()
{
    autosave_->SetStandAloneSong(song_.get());
    if (song_) {
        song_->currentPosition = start_;
        rig_->Load(*song_, start_);
        return;
    }
    view_ = std::make_unique<SetViewModel>(*set_, rig_->Engine(), *rig_, *scheduler_, *session_.Context().profile);
    if (set_->IsLargeSet()) { // a small set is read whole at open: nothing is left to read ahead
        readAhead_ = std::make_unique<SongReadAhead>(session_.Context());
        view_->UseReadAhead(readAhead_.get());
    }
    for (int i = 0; i < set_->SongCount(); ++i)
        if (view_->Select(i, start_) != nullptr)
            break;
}

Song* Show::Current() const
{
    return song_ ? song_.get() : set_ ? set_->CurrentSong() : nullptr;
}

std::optional<HaltOutcome> Show::HandleNotifications()
{
    std::optional<HaltOutcome> outcome = rig_->HandleNotifications(view_.get());
    // A song's end is the show's end, unless the set goes on to the next song.
    if (outcome == HaltOutcome::EndOfSong && (!view_ || view_->AutoAdvance() == 0))
        ended_ = true;
    if (view_ && outcome)
        view_->UpdatePlayingMarker();
    return outcome;
}

void Show::RestartAutosave(bool on)
{
    if (!autosave_)
        return;
    if (on)
        autosave_->Start();
    else
        autosave_->Stop();
}

bool Show::Finished() const
{
    if (!openLast_.empty())
        return false; // the delayed start-up has yet to open it
    return ended_ || (view_ && view_->AtEnd() && !view_->Advancing());
}

std::string Show::PlaceText() const
{
    if (!view_)
        return "";
    if (view_->AtEnd())
        return "end of set";
    const Song& song = *Current();
    const std::string name = song.title.empty() ? StripKnownExtension(StoredPathName(song.pathName)) : song.title;
    return std::to_string(view_->Current() + 1) + "/" + std::to_string(set_->SongCount()) + " " + name;
}

bool Show::IsSetCommand(uint16_t command)
{
    const auto id = static_cast<CommandId>(command);
    return id == CommandId::NextSong || id == CommandId::PreviousSong || id == CommandId::RevertToPreviousSong;
}

bool Show::RunSetCommand(uint16_t command)
{
    if (view_ == nullptr)
        return false;
    switch (static_cast<CommandId>(command)) {
    case CommandId::NextSong:
        view_->NextSong();
        return true;
    case CommandId::PreviousSong:
        view_->PreviousSong();
        return true;
    case CommandId::RevertToPreviousSong:
        view_->RevertToPreviousSong();
        return true;
    default:
        return false;
    }
}

} // namespace cantivo
