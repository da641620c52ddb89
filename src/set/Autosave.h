#pragma once

#include <cstdint>

namespace cantivo {

class CLiveDoc;
class Profile;
class SaveFiles;
class Scheduler;
class Sequencer;
class Song;

// Every "AutoSaveMin" minutes ("SaveOptions"), each modified song of the open set is written to its
// recovery file (".sav" beside it), and a song found unmodified loses its recovery files. Nothing is
// written while the sequencer plays: the tick is tried again each minute until it stops. With no set
// open, the song opened on its own counts as the set's only song.
class Autosave {
  public:
    static constexpr int Timer = 333;
    static constexpr int64_t Minute = 60'000'000; // microseconds

    Autosave(CLiveDoc& set, Sequencer& sequencer, Scheduler& scheduler, Profile& profile, SaveFiles& files);
    ~Autosave();
    Autosave(const Autosave&) = delete;
    Autosave& operator=(const Autosave&) = delete;

    // At start-up, and when the "Save" options page is accepted: on when "AutoSave" is set.
    void Start();
    // Until the next Start: the "Save" page was accepted with backups or autosave unchecked.
    void Stop();
    // The song outside any set, while no set is open.
    void SetStandAloneSong(Song* song) { standAlone_ = song; }
    // The one-minute timer's work.
    void Tick();
    // Now, whatever the settings say: each modified song to its recovery file (offered back when the
    // song is next opened), as when the program is stopped with nobody there to answer "Save changes".
    void WriteNow();
    int Countdown() const { return countdown_; }

  private:
    void SaveOrForget(Song& song);

    CLiveDoc& set_;
    Sequencer& sequencer_;
    Scheduler& scheduler_;
    Profile& profile_;
    SaveFiles& files_;
    Song* standAlone_ = nullptr;
    int countdown_ = 0; // 0: off
};

} // namespace cantivo
