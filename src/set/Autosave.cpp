#include "set/Autosave.h"

#include "playback/Scheduler.h"
#include "playback/Sequencer.h"
#include "set/CLiveDoc.h"
#include "song/AtomicFile.h"
#include "song/MidiFileWriter.h"
#include "song/Profile.h"
#include "song/Song.h"
#include "song/SongFileNames.h"

#include <algorithm>
#include <vector>

namespace cantivo {

namespace {

int Minutes(const Profile& profile)
{
    return std::max(profile.GetInt("SaveOptions", "AutoSaveMin", 10), 1);
}

} // namespace

Autosave::Autosave(CLiveDoc& set, Sequencer& sequencer, Scheduler& scheduler, Profile& profile, SaveFiles& files)
    : set_(set), sequencer_(sequencer), scheduler_(scheduler), profile_(profile), files_(files)
{
}

Autosave::~Autosave()
{
    scheduler_.KillTimer(Timer);
}

void Autosave::Start()
{
    if (profile_.GetInt("SaveOptions", "AutoSave", 0) == 0) {
        countdown_ = 0;
        scheduler_.KillTimer(Timer);
        return;
    }
    countdown_ = Minutes(profile_);
    scheduler_.StartTimer(Timer, Minute, [this] { Tick(); });
}

void Autosave::Stop()
{
    countdown_ = 0;
    scheduler_.KillTimer(Timer);
}

void Autosave::Tick()
{
    scheduler_.KillTimer(Timer);
    if (countdown_ == 0)
        return;
    if (countdown_ > 1 || !sequencer_.IsStopped()) {
        // While playing the save waits: the next minute tries again.
        if (countdown_ > 1)
            --countdown_;
        scheduler_.StartTimer(Timer, Minute, [this] { Tick(); });
        return;
    }
    WriteNow();
    countdown_ = Minutes(profile_);
    scheduler_.StartTimer(Timer, Minute, [this] { Tick(); });
}

void Autosave::WriteNow()
{
    std::vector<Song*> songs;
    if (set_.IsClosed()) {
        if (standAlone_ != nullptr)
            songs.push_back(standAlone_);
    } else {
        // Each song once, however many positions it holds.
        for (int i = 0; i < set_.SongCount(); ++i)
            if (Song* song = &set_.SongAt(i); std::find(songs.begin(), songs.end(), song) == songs.end())
                songs.push_back(song);
    }
    for (Song* song : songs)
        SaveOrForget(*song);
}

void Autosave::SaveOrForget(Song& song)
{
    if (song.pathName.empty())
        return;
    if (song.IsModified()) {
        WriteOptions options;
        options.files = &files_;
        // A failed write has told the user; the flag is set all the same, so a later tick tidies up.
        (void)WriteSong(song, RecoveryPath(song.pathName), options);
        song.autosaveFlag = true;
    } else if (song.autosaveFlag) {
        (void)files_.Remove(RecoveryPath(song.pathName));
        (void)files_.Remove(StripKnownExtension(song.pathName) + ".cv.sav");
        song.autosaveFlag = false;
    }
}

} // namespace cantivo
