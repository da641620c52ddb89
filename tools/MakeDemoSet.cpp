// Writes the demo set: three short songs made with the song model and written by the project's own
// writer, the set file that lists them, and a render script that taps through the holds, so a new user
// hears every kind of cue the show relies on (a vamp, a skip, a fermata, a caesura) and the lyrics.
//
// It also writes the templates "New..." offers: songs with their tracks set up and no notes yet.
//
// Usage: cantivo-make-demo-set [FOLDER [TEMPLATES]]   (default data/sets/demo and data/templates)
#include "set/SetFile.h"
#include "song/Cue.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace cantivo;

constexpr int32_t Quarter = 120;

struct Part {
    uint8_t channel;
    uint8_t program;
    uint8_t volume;
};

void AddTrack(Song& song, const std::string& name, const Part& part, std::vector<SongEvent> events)
{
    auto track = std::make_unique<Track>();
    track->name = name;
    track->outputChannel = part.channel;
    std::vector<SongEvent> all = {SongEvent::Short(0, static_cast<uint8_t>(0xB0 | part.channel), 7, part.volume),
                                  SongEvent::Short(0, static_cast<uint8_t>(0xC0 | part.channel), part.program)};
    all.insert(all.end(), events.begin(), events.end());
    std::stable_sort(all.begin(), all.end(), [](const SongEvent& a, const SongEvent& b) { return a.time < b.time; });
    track->events = std::move(all);
    song.tracks.insert(song.tracks.end() - 1, std::move(track));
}

std::unique_ptr<Song> MakeSong(const std::string& title, int numerator, int bpm, int bars, int denominator = 4)
{
    auto made = std::make_unique<Song>(DefaultSongContext());
    Song& song = *made;
    song.NewSongDefaults();
    song.title = title;
    song.copyright = "Written for Cantivo; free to use, copy and change";
    song.measures[0].numerator = static_cast<uint8_t>(numerator);
    song.measures[0].denominator = static_cast<uint8_t>(denominator);
    // Compound meters click on the dotted quarter.
    song.measures[0].clocksPerClick = static_cast<uint8_t>(denominator == 8 ? 36 : 24);
    song.measures[0].length = Measure::LengthFor(Quarter, denominator, numerator);
    song.tempoMap.entries[0].microsecondsPerQuarter = static_cast<uint32_t>(60'000'000 / bpm);
    song.songEnd = bars * song.measures[0].length;
    return made;
}

void AddCue(Song& song, const std::string& label, int kind, int32_t stopAt, int32_t restartAt, int count = 0)
{
    auto cue = std::make_unique<Cue>();
    cue->label = label;
    cue->kind = kind;
    cue->stopAt = stopAt;
    cue->restartAt = restartAt;
    cue->count = count;
    song.cues.push_back(std::move(cue));
}

// Chords on one channel, a bass line on another, drums on channel 10: one chord root per bar.
void AddBand(Song& song, int beatsPerBar, const std::vector<int>& roots)
{
    std::vector<SongEvent> chords, bass, drums;
    const int32_t bar = beatsPerBar * Quarter;
    for (size_t i = 0; i < roots.size(); ++i) {
        const auto t = static_cast<int32_t>(i) * bar;
        const int root = roots[i];
        for (int interval : {0, 4, 7})
            chords.push_back(SongEvent::Note(t, 0, static_cast<uint8_t>(root + interval), 70, bar - 10));
        for (int beat = 0; beat < beatsPerBar; ++beat) {
            bass.push_back(SongEvent::Note(t + beat * Quarter, 1, static_cast<uint8_t>(root - 24 + (beat % 2) * 7), 90,
                                           Quarter - 20));
            drums.push_back(SongEvent::Note(t + beat * Quarter, 9, beat == 0 ? 36 : 42, beat == 0 ? 110 : 80, 30));
        }
    }
    AddTrack(song, "Chords", {0, 0, 90}, chords);
    AddTrack(song, "Bass", {1, 33, 100}, bass);
    AddTrack(song, "Drums", {9, 0, 100}, drums);
}

std::vector<uint8_t> Finish(Song& song)
{
    song.RecomputeTempoTimes();
    song.UpdateSongEnd(AllTracks);
    song.ExtendMeasures();
    return WriteSongToBytes(song);
}

bool WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

double Seconds(const Song& song, int32_t tick)
{
    return song.TicksToMicroseconds(tick) / 1e6;
}

// A template: the tracks of a band with names, channels, sounds and levels, a marker to start from.
bool WriteTemplate(const std::filesystem::path& path, const std::string& title, int numerator, int denominator, int bpm,
                   const std::vector<std::pair<std::string, Part>>& parts)
{
    auto made = MakeSong(title, numerator, bpm, 8, denominator);
    Song& song = *made;
    song.copyright.clear();
    for (const auto& [name, part] : parts)
        AddTrack(song, name, part, {});
    AddCue(song, "Start", CueMarker, 0, 0);
    return WriteBytes(path, Finish(song));
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::path("data/sets/demo");
    std::error_code code;
    fs::create_directories(folder, code);

    // 1: a vamp heard twice, then a skip over a bar that is only for rehearsals. 4/4 at 120 bpm.
    auto openerSong = MakeSong("Opener", 4, 120, 7);
    Song& opener = *openerSong;
    AddBand(opener, 4, {60, 65, 67, 62, 72, 65, 60});
    const int32_t bar4 = 4 * Quarter;
    AddCue(opener, "Groove", CueVamp, 3 * bar4, 1 * bar4, 2);
    AddCue(opener, "Skip the count-off", CueSkip, 4 * bar4, 5 * bar4);

    // 2: a ballad in 3/4 with its words, and a fermata on the chord of bar 7.
    auto balladSong = MakeSong("Ballad", 3, 90, 8);
    Song& ballad = *balladSong;
    AddBand(ballad, 3, {62, 67, 69, 62, 71, 67, 69, 62});
    const int32_t bar3 = 3 * Quarter;
    std::vector<SongEvent> melody;
    const char* words[] = {"Lan", "terns ", "light ", "the ", "har", "bour, ", "one ", "by ", "one "};
    for (int i = 0; i < 9; ++i) {
        const int32_t t = (i + 1) * bar3 / 2 + bar3;
        melody.push_back(SongEvent::Note(t, 2, static_cast<uint8_t>(74 + (i % 3) * 2), 90, bar3 / 2 - 10));
        melody.push_back(SongEvent::Meta(t, 0x05, reinterpret_cast<const uint8_t*>(words[i]), std::strlen(words[i])));
    }
    AddTrack(ballad, "Melody", {2, 73, 100}, melody);
    AddCue(ballad, "Hold", CueFermata, 6 * bar3 + Quarter, 7 * bar3);

    // 3: a caesura before the last three bars. 4/4 at 132 bpm.
    auto finaleSong = MakeSong("Finale", 4, 132, 6);
    Song& finale = *finaleSong;
    AddBand(finale, 4, {67, 72, 74, 67, 72, 67});
    AddCue(finale, "Cut", CueCaesura, 3 * bar4, 3 * bar4);

    const std::vector<std::pair<std::string, Song*>> songs = {
        {"1 Opener.mid", &opener}, {"2 Ballad.mid", &ballad}, {"3 Finale.mid", &finale}};
    std::vector<std::string> names;
    for (const auto& [name, song] : songs) {
        if (!WriteBytes(folder / name, Finish(*song))) {
            std::fprintf(stderr, "cantivo-make-demo-set: cannot write %s\n", (folder / name).c_str());
            return 1;
        }
        names.push_back(name); // bare names: the set finds its songs beside it wherever it is copied
    }
    if (!WriteBytes(folder / "Demo.set", SetFileBytes(names)))
        return 1;

    // The taps a render needs with "Advance: wait" (the default): one to start each song after the
    // first, and one to release each hold, each two seconds after the music stops (the advance itself
    // comes one second after a song's end).
    const double opened = Seconds(opener, 7 * bar4) + (Seconds(opener, 3 * bar4) - Seconds(opener, bar4)) -
                          (Seconds(opener, 5 * bar4) - Seconds(opener, 4 * bar4));
    const double balladStart = opened + 2;
    const double held = balladStart + Seconds(ballad, 6 * bar3 + Quarter) + 2;
    const double finaleStart = held + Seconds(ballad, 8 * bar3) - Seconds(ballad, 7 * bar3) + 2;
    const double cut = finaleStart + Seconds(finale, 3 * bar4) + 2;
    std::ofstream script(folder / "demo-script.txt");
    script << "# Taps through the demo set for cantivo-cli render (made by cantivo-make-demo-set)\n"
           << "0 Play\n";
    for (double t : {balladStart, held, finaleStart, cut})
        script << static_cast<long>(t * 1000) << " Play\n";
    if (!script)
        return 1;

    const fs::path templates = argc > 2 ? fs::path(argv[2]) : fs::path("data/templates");
    fs::create_directories(templates, code);
    const bool written =
        WriteTemplate(
            templates / "Band 4-4.mid", "Band", 4, 4, 120,
            {{"Keys", {0, 0, 90}}, {"Bass", {1, 33, 100}}, {"Guitar", {2, 25, 90}}, {"Drums", {9, 0, 100}}}) &&
        WriteTemplate(templates / "Waltz 3-4.mid", "Waltz", 3, 4, 132,
                      {{"Accordion", {0, 21, 90}}, {"Bass", {1, 32, 100}}, {"Brushes", {9, 40, 90}}}) &&
        WriteTemplate(templates / "Strings 6-8.mid", "Strings", 6, 8, 66,
                      {{"Violins", {0, 48, 90}}, {"Cellos", {1, 42, 90}}, {"Harp", {2, 46, 80}}});
    if (!written)
        return 1;
    std::printf("Wrote the demo set in %s and the templates in %s\n", folder.c_str(), templates.c_str());
    return 0;
}
