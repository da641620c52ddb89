#include "song/MidiFileReader.h"
#include "song/MidiFileWriter.h"
#include "song/Song.h"
#include "support/SongComparison.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using test::SongDifference;
using test::TestContext;
using Bytes = std::vector<uint8_t>;

fs::path CorpusFiles()
{
    const char* corpus = std::getenv("CANTIVO_CORPUS");
    return fs::path(corpus && *corpus ? corpus : CANTIVO_CORPUS_DEFAULT) / "files";
}

std::vector<fs::path> CorpusPaths()
{
    std::vector<fs::path> paths;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(CorpusFiles(), error))
        if (entry.is_regular_file())
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class TempFolder {
  public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-roundtrip-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

// Corpus files whose user tracks the first save changes, because the track encoding cannot carry what
// the song holds. Each must still keep its conductor data and settle after a few saves, and must leave
// this list once it round-trips exactly.
const std::map<std::string, const char*>& KnownTrackLosses()
{
    static const char* const channelLess = "the channel of a track without channel messages is not in the file";
    static const char* const programChannel = "a program change on another channel is written on the track's channel";
    static const char* const sharedChannel =
        "the initial block of a track sharing its channel is written after the group's last note";
    static const char* const overlapping = "overlapping notes of one key pair first in, first out";
    static const std::map<std::string, const char*> losses = {
        {"Avgvst_ALegacyOfLove.mid", channelLess},
        {"Avgvst_CarnalFear.mid", sharedChannel},
        {"Avgvst_ComplexityInHer_Eyes2.mid", channelLess},
        {"Avgvst_Endgame.mid", channelLess},
        {"Avgvst_FreeRide.mid", channelLess},
        {"Avgvst_GonzoSurf.mid", channelLess},
        {"Avgvst_LeftAlone.mid", channelLess},
        {"Avgvst_RawMix.mid", channelLess},
        {"Avgvst_Rift.mid", channelLess},
        {"Avgvst_RustyBossManTussle.mid", channelLess},
        {"Avgvst_Tokyo.mid", channelLess},
        {"Avgvst_Valentine1.mid", channelLess},
        {"HorrorPen_ItIs.mid", sharedChannel},
        {"careless_perc_redfarn.mid", programChannel},
        {"chuggachugga.mid", overlapping},
        {"edge_MIDIOkFormat2.mid", sharedChannel},
        {"gen_fmt0_chuggachugga.mid", channelLess},
        {"harp_harmony.mid", sharedChannel},
        {"mighty_giant_run.mid", sharedChannel},
        {"modern_motion.mid", sharedChannel},
        {"moo_redfarn.mid", programChannel},
        {"say_what_redfarn.mid", programChannel},
        {"slow_neasy_redfarn.mid", sharedChannel},
        {"tttheme2.mid", sharedChannel},
    };
    return losses;
}

// Known losses that happen again at every save: a track that shares its channel and plays no note of
// its own gets its initial block after the group's last note, and reading then takes its first
// controller and program events as initial values, so every save moves them on by one (the volume ramp
// of track 10 loses a step each time). Listed so the fault stays in sight until the encoder mends it.
const std::set<std::string>& KnownCycles()
{
    static const std::set<std::string> cycles = {"Avgvst_CarnalFear.mid"};
    return cycles;
}

TEST(RoundTrip, EveryCorpusFileReadsBackTheSameAndWritesTheSameBytes)
{
    const std::vector<fs::path> paths = CorpusPaths();
    if (paths.empty())
        GTEST_SKIP() << "no corpus at " << CorpusFiles() << " (set CANTIVO_CORPUS)";
    int written = 0;
    std::string failures;
    for (const fs::path& path : paths) {
        const std::string name = path.filename().string();
        TestContext context;
        const Bytes original = ReadFile(path);
        auto song = std::make_unique<Song>(context.Context());
        if (!ReadSongFromBytes(*song, original.data(), original.size()))
            continue;
        ++written;
        Bytes saved = WriteSongToBytes(*song);
        auto again = std::make_unique<Song>(context.Context());
        if (!ReadSongFromBytes(*again, saved.data(), saved.size())) {
            failures += name + ": the written file does not read\n";
            continue;
        }
        // What track 0 carries is the writer's own work and must come back at once.
        std::string difference = SongDifference(*song, *again, test::CompareScope::Conductor);
        if (difference.empty())
            difference = test::detail::TrackDifference(*song->tracks[0], *again->tracks[0], true);
        if (!difference.empty()) {
            failures += name + ": " + difference + "\n";
            continue;
        }
        difference = SongDifference(*song, *again);
        Bytes savedAgain = WriteSongToBytes(*again);
        const bool exact = difference.empty() && savedAgain == saved;
        const auto known = KnownTrackLosses().find(name);
        if (known == KnownTrackLosses().end()) {
            if (!difference.empty())
                failures += name + ": " + difference + "\n";
            if (savedAgain != saved)
                failures += name + ": writing the re-read song gives other bytes\n";
            continue;
        }
        if (exact) {
            failures += name + ": now round-trips exactly; take it off the known losses\n";
            continue;
        }
        // A known loss happens once: after it the saves must settle.
        bool settled = false;
        for (int save = 0; save < 4 && !settled; ++save) {
            auto next = std::make_unique<Song>(context.Context());
            if (!ReadSongFromBytes(*next, savedAgain.data(), savedAgain.size()))
                break;
            saved = std::move(savedAgain);
            savedAgain = WriteSongToBytes(*next);
            settled = savedAgain == saved;
        }
        if (settled == (KnownCycles().count(name) > 0))
            failures += name + (settled ? ": now settles; take it off the known cycles\n"
                                        : ": saves do not settle (" + std::string(known->second) + ")\n");
    }
    EXPECT_GT(written, 0) << "no corpus file could be read";
    EXPECT_EQ(failures, "");
}

// ---- the notes another reader hears ----

using Note = std::tuple<int, int, int64_t>; // channel, key, tick
struct HeardNotes {
    std::vector<Note> starts;
    std::vector<Note> ends;
    int unmatched = 0;
};
// file name -> track number -> notes
using Heard = std::map<std::string, std::map<int, HeardNotes>>;

constexpr const char* MidoScript = R"(
import sys
import mido
for path in sys.argv[1:]:
    try:
        song = mido.MidiFile(path)
    except Exception as error:
        print("%s\tERROR\t%s" % (path, error))
        continue
    for number, track in enumerate(song.tracks):
        tick = 0
        sounding = {}
        for message in track:
            tick += message.time
            if message.type == "note_on" and message.velocity > 0:
                sounding.setdefault((message.channel, message.note), []).append(tick)
            elif message.type in ("note_on", "note_off"):
                starts = sounding.get((message.channel, message.note))
                if starts:
                    print("%s\t%d\t%d\t%d\t%d\t%d" % (path, number, message.channel, message.note, starts.pop(0), tick))
        for (channel, key), starts in sounding.items():
            for start in starts:
                print("%s\t%d\t%d\t%d\t%d\t-1" % (path, number, channel, key, start))
)";

bool MidoAvailable()
{
    return std::system("/usr/bin/python3 -I -c 'import mido' >/dev/null 2>&1") == 0;
}

// Runs mido over the files and pairs note-offs with note-ons first in, first out per channel and key.
Heard ListNotesWithMido(const fs::path& folder, const std::vector<fs::path>& files, std::string& errors)
{
    const fs::path script = folder / "notes.py";
    const fs::path output = folder / "notes.txt";
    std::ofstream(script) << MidoScript;
    std::string command = "/usr/bin/python3 -I '" + script.string() + "'";
    for (const fs::path& file : files)
        command += " '" + file.string() + "'";
    command += " > '" + output.string() + "'";
    if (std::system(command.c_str()) != 0)
        errors += "the mido script failed\n";
    Heard heard;
    std::ifstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string path, number;
        std::getline(fields, path, '\t');
        std::getline(fields, number, '\t');
        if (number == "ERROR") {
            errors += line + "\n";
            continue;
        }
        int channel = 0, key = 0;
        int64_t start = 0, end = 0;
        fields >> channel >> key >> start >> end;
        HeardNotes& notes = heard[fs::path(path).filename().string()][std::stoi(number)];
        notes.starts.emplace_back(channel, key, start);
        if (end < 0)
            ++notes.unmatched;
        else
            notes.ends.emplace_back(channel, key, end);
    }
    return heard;
}

int FoldKey(int key)
{
    while (key > 127)
        key -= 12;
    while (key < 0)
        key += 12;
    return key;
}

// The notes the song holds as a player sends them: user tracks with their key and time offsets.
std::map<int, HeardNotes> SongNotes(const Song& song)
{
    std::map<int, HeardNotes> notes;
    for (size_t number = 0; number + 1 < song.tracks.size(); ++number) {
        const Track& track = *song.tracks[number];
        const bool offsets = number > 0;
        notes[static_cast<int>(number)]; // a track without notes must sound none
        for (const SongEvent& event : track.events) {
            if (!event.IsNote())
                continue;
            const int key = offsets ? FoldKey(event.Data1() + track.keyOffset) : event.Data1();
            const int64_t shift = offsets ? track.timeOffset : 0;
            const int64_t start = std::max<int64_t>(0, event.time + shift);
            const int64_t end = std::max<int64_t>(0, int64_t{event.time} + std::max(0, event.length) + shift);
            HeardNotes& heard = notes[static_cast<int>(number)];
            heard.starts.emplace_back(event.Channel(), key, start);
            heard.ends.emplace_back(event.Channel(), key, end);
        }
    }
    return notes;
}

// A song with what trips up other readers: overlapping notes of one key, offsets, notes in track 0,
// zero-length notes and notes on several channels of one track.
std::unique_ptr<Song> AwkwardSong(TestContext& context)
{
    auto song = std::make_unique<Song>(context.Context());
    song->NewSongDefaults();
    song->title = "Awkward";
    song->tracks[0]->events.push_back(SongEvent::Note(0, 3, 50, 80, 960));
    song->tracks[0]->events.push_back(SongEvent::Note(480, 3, 50, 80, 100));
    auto add = [&](int channel) -> Track& {
        auto track = std::make_unique<Track>();
        track->outputChannel = channel;
        Track& added = *track;
        song->tracks.insert(song->tracks.end() - 1, std::move(track));
        return added;
    };
    Track& lead = add(0);
    lead.keyOffset = 5;
    lead.timeOffset = 30;
    lead.initial[InitPatch] = 40;
    lead.events.push_back(SongEvent::Note(0, 0, 60, 100, 240));
    lead.events.push_back(SongEvent::Note(120, 0, 60, 90, 240));
    lead.events.push_back(SongEvent::Note(240, 0, 64, 90, 0));
    lead.events.push_back(SongEvent::Note(240, 5, 64, 90, 480));
    Track& drums = add(9);
    drums.timeOffset = -20;
    for (int beat = 0; beat < 8; ++beat)
        drums.events.push_back(SongEvent::Note(beat * 120 + 10, 9, 36 + beat % 3, 100, 10));
    song->UpdateSongEnd(AllTracks);
    return song;
}

TEST(RoundTrip, AnotherReaderHearsTheNotesTheSongHolds)
{
    if (!MidoAvailable())
        GTEST_SKIP() << "/usr/bin/python3 with mido is not installed (scripts/bootstrap installs python3-mido)";
    TempFolder folder;
    std::map<std::string, std::map<int, HeardNotes>> expected;
    std::vector<fs::path> written;
    TestContext awkwardContext;
    auto song = AwkwardSong(awkwardContext);
    const fs::path awkward = folder.Path() / "awkward.mid";
    WriteBytes(awkward, WriteSongToBytes(*song));
    written.push_back(awkward);
    expected["awkward.mid"] = SongNotes(*song);

    for (const fs::path& path : CorpusPaths()) {
        TestContext context;
        const Bytes original = ReadFile(path);
        Song corpusSong(context.Context());
        if (!ReadSongFromBytes(corpusSong, original.data(), original.size()))
            continue;
        const fs::path target = folder.Path() / (path.stem().string() + ".mid");
        WriteBytes(target, WriteSongToBytes(corpusSong));
        written.push_back(target);
        expected[target.filename().string()] = SongNotes(corpusSong);
    }

    std::string errors;
    Heard heard = ListNotesWithMido(folder.Path(), written, errors);
    EXPECT_EQ(errors, "");
    for (auto& [file, tracks] : expected) {
        SCOPED_TRACE(file);
        for (const auto& [number, notes] : heard[file])
            EXPECT_TRUE(tracks.count(number)) << "notes heard in track " << number << " that the file has not";
        for (auto& [number, notes] : tracks) {
            SCOPED_TRACE("track " + std::to_string(number));
            HeardNotes& other = heard[file][number];
            for (auto* list : {&notes.starts, &notes.ends, &other.starts, &other.ends})
                std::sort(list->begin(), list->end());
            EXPECT_EQ(other.unmatched, 0);
            EXPECT_TRUE(other.starts == notes.starts)
                << other.starts.size() << " notes heard, song holds " << notes.starts.size();
            EXPECT_TRUE(other.ends == notes.ends) << "note ends differ";
        }
    }
}

} // namespace
} // namespace cantivo
