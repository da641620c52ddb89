#include "song/MidiFileWriter.h"
#include "song/AtomicFile.h"
#include "song/AudioClip.h"
#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "support/SongComparison.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using test::SongDifference;
using test::TestContext;
using Bytes = std::vector<uint8_t>;

// A folder of its own for each test, removed afterwards.
class TempFolder {
  public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-writer-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& Path() const { return path_; }
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_))
            names.insert(entry.path().filename().string());
        return names;
    }

  private:
    fs::path path_;
};

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Text(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::unique_ptr<Song> NewSong(TestContext& context)
{
    auto song = std::make_unique<Song>(context.Context());
    song->NewSongDefaults();
    return song;
}

// What every edit does after changing a song: tracks encoded, song end and measure table brought up.
void Settle(Song& song)
{
    song.UpdateSongEnd(AllTracks);
    song.ExtendMeasures();
}

Track& AddTrack(Song& song, const std::string& name, int channel = 0)
{
    auto track = std::make_unique<Track>();
    track->name = name;
    track->outputChannel = channel;
    Track& added = *track;
    song.tracks.insert(song.tracks.end() - 1, std::move(track));
    return added;
}

// One event of a chunk as a file reader sees it.
struct Item {
    int32_t time;
    uint8_t status;
    uint8_t type; // meta type, or first data byte
    Bytes data;   // meta body, sysex bytes after 0xF0, or the channel message's data bytes
};

std::vector<Item> ParseChunk(const Bytes& chunk)
{
    std::vector<Item> items;
    size_t at = 0;
    int32_t time = 0;
    uint8_t running = 0;
    auto varLen = [&] {
        uint32_t value = 0;
        while (at < chunk.size()) {
            const uint8_t byte = chunk[at++];
            value = (value << 7) | (byte & 0x7F);
            if (byte < 0x80)
                break;
        }
        return value;
    };
    while (at < chunk.size()) {
        time += static_cast<int32_t>(varLen());
        uint8_t status = chunk[at];
        if (status >= 0x80)
            ++at;
        else
            status = running;
        Item item{time, status, 0, {}};
        if (status == 0xFF) {
            item.type = chunk[at++];
            const uint32_t size = varLen();
            item.data.assign(chunk.begin() + static_cast<long>(at), chunk.begin() + static_cast<long>(at + size));
            at += size;
            running = 0;
        } else if (status == 0xF0) {
            while (at < chunk.size() && chunk[at] != 0xF7)
                item.data.push_back(chunk[at++]);
            ++at;
            running = 0;
        } else {
            running = status;
            const int size = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            item.type = chunk[at];
            item.data.assign(chunk.begin() + static_cast<long>(at), chunk.begin() + static_cast<long>(at + size));
            at += static_cast<size_t>(size);
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<Item> Metas(const std::vector<Item>& items, uint8_t type)
{
    std::vector<Item> found;
    for (const Item& item : items)
        if (item.status == 0xFF && item.type == type)
            found.push_back(item);
    return found;
}

std::vector<Item> ProgramMetas(const std::vector<Item>& items, uint8_t subtype)
{
    std::vector<Item> found;
    for (const Item& item : Metas(items, 0x7F))
        if (item.data.size() >= 3 && item.data[0] == 'c' && item.data[1] == 'v' && item.data[2] == subtype)
            found.push_back(item);
    return found;
}

// Saved to a file and read back, each song is the same; a plain save also clears the modified flag.
TEST(MidiFileWriter, SavedSongsReadBackTheSame)
{
    struct Case {
        const char* what;
        std::function<void(Song&)> build;
        size_t measures = 0; // set after the song end is brought up: measures past it
    };
    const std::vector<Case> cases = {
        {"one track with a patch, notes and a controller",
         [](Song& song) {
             Track& track = AddTrack(song, "Piano", 2);
             track.outputPort = 3;
             track.colour = 0x123456;
             track.initial[InitBank] = 0; // a patch reads back with the bank in force, 0 when none was sent
             track.initial[InitPatch] = 5;
             track.events.push_back(SongEvent::Note(0, 2, 60, 100, 120));
             track.events.push_back(SongEvent::Note(240, 2, 64, 90, 60));
             track.events.push_back(SongEvent::Short(300, 0xB2, 11, 70));
         }},
        {"measures past the song end",
         [](Song& song) { AddTrack(song, "Keys").events.push_back(SongEvent::Note(0, 0, 60, 100, 100)); }, 5},
        {"texts longer than one meta, no author, an SMPTE offset",
         [](Song& song) {
             song.title = "Title";
             song.subtitle = "Sub";
             song.copyright = "(c) us";
             song.memo = std::string(150, 'm') + "\xC3\xA9" + std::string(60, 'n');
             song.smpteOffset = {1, 2, 3, 4, 5, 3};
         }},
        {"channel events, sysex and a lyric in track 0",
         [](Song& song) {
             Track& conductor = *song.tracks[0];
             const uint8_t sysex[] = {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
             const uint8_t lyric[] = {'l', 'a'};
             conductor.events = {SongEvent::Sysex(0, sysex, sizeof sysex),
                                 SongEvent::Short(0, 0xB1, 0, 1),
                                 SongEvent::Short(0, 0xC1, 17),
                                 SongEvent::Note(0, 1, 60, 100, 240),
                                 SongEvent::Note(120, 9, 36, 90, 0),
                                 SongEvent::Short(130, 0xE1, 0, 0x50),
                                 SongEvent::Short(200, 0xD1, 30),
                                 SongEvent::Meta(200, 0x05, lyric, 2)};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestContext context;
        TempFolder folder;
        auto song = NewSong(context);
        c.build(*song);
        Settle(*song);
        if (c.measures) {
            song->measures.resize(c.measures, song->measures[0]);
            for (size_t i = 0; i < c.measures; ++i)
                song->measures[i].number = static_cast<uint16_t>(i + 1);
        }
        const std::string path = folder / "song.mid";
        ASSERT_TRUE(WriteSong(*song, path, WriteOptions{true, nullptr, {}}));
        Song readBack(context.Context());
        ASSERT_TRUE(ReadSong(readBack, path));
        EXPECT_EQ(SongDifference(*song, readBack), "");
        EXPECT_EQ(readBack.measures.size(), song->measures.size());
        EXPECT_FALSE(song->IsModified());
    }
}

TEST(MidiFileWriter, HeaderIsFormatOneWithAChunkPerTrack)
{
    TestContext context;
    TempFolder folder;
    auto song = NewSong(context);
    AddTrack(*song, "Piano").events.push_back(SongEvent::Note(0, 0, 60, 100, 120));
    Settle(*song);
    ASSERT_TRUE(WriteSong(*song, folder / "First.mid"));
    const Bytes file = ReadFile(folder / "First.mid");
    ASSERT_GE(file.size(), 14u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 14), (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0, 120}));
    // Track 0's notes end with note-ons of velocity 0, like every other track's.
    song->tracks[0]->events = {SongEvent::Note(0, 1, 60, 100, 240), SongEvent::Note(120, 9, 36, 90, 0)};
    Settle(*song);
    size_t noteOffs = 0;
    for (const Item& item : ParseChunk(ConductorTrackBytes(*song)))
        noteOffs += (item.status & 0xF0) == 0x90 && item.data.size() == 2 && item.data[1] == 0;
    EXPECT_EQ(noteOffs, 2u);
}

TEST(MidiFileWriter, MeasureLabelsOnlyWhenTheNumberingDeviates)
{
    struct Case {
        const char* name;
        std::function<void(Song&)> change;
        std::vector<std::string> labels;
    };
    const std::vector<Case> cases = {
        {"plain numbering", [](Song&) {}, {}},
        {"one measure 12A",
         [](Song& song) {
             song.measures[1].number = 12;
             song.measures[1].letter = 'A';
         },
         {"1", "12A", "3"}},
        {"letter only",
         [](Song& song) {
             song.measures[2].number = 0;
             song.measures[2].letter = 'B';
         },
         {"1", "2", "B"}},
        {"renumbered", [](Song& song) { song.measures[0].number = 5; }, {"5", "2", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestContext context;
        auto song = NewSong(context);
        song->measures.resize(3, song->measures[0]);
        for (size_t i = 0; i < 3; ++i)
            song->measures[i].number = static_cast<uint16_t>(i + 1);
        c.change(*song);
        song->RelayMeasures();
        std::vector<std::string> labels;
        for (const Item& item : ProgramMetas(ParseChunk(ConductorTrackBytes(*song)), 20))
            labels.emplace_back(item.data.begin() + 3, item.data.end());
        EXPECT_EQ(labels, c.labels);
    }
}

TEST(MidiFileWriter, ConductorWritesTempoMeterKeyAndCuesOnlyWhereTheyChange)
{
    TestContext context;
    auto song = NewSong(context);
    song->measures.resize(4, song->measures[0]);
    song->measures[2].numerator = 3;
    song->measures[3].numerator = 3;
    song->measures[3].key = -2;
    song->measures[3].mode = 1;
    song->RelayMeasures();
    song->tempoMap.entries = {{0, 500000, 0}, {480, 500000, 0}, {960, 400000, 0}};
    auto vamp = std::make_unique<Cue>();
    *vamp = Cue{"Chorus", CueVamp, 2, 1920, 1440, 0};
    auto marker = std::make_unique<Cue>();
    *marker = Cue{"Intro", CueMarker, 0, 0, 0, 0};
    auto adLib = std::make_unique<Cue>();
    *adLib = Cue{"Solo", CueAdLib, 0, 100, 400, 0};
    song->cues.push_back(std::move(marker));
    song->cues.push_back(std::move(adLib));
    song->cues.push_back(std::move(vamp));
    const std::vector<Item> items = ParseChunk(ConductorTrackBytes(*song));

    const auto tempos = Metas(items, 0x51);
    ASSERT_EQ(tempos.size(), 2u) << "an equal tempo in a row is written once";
    EXPECT_EQ(tempos[0].time, 0);
    EXPECT_EQ(tempos[1].time, 960);
    EXPECT_EQ(tempos[1].data, (Bytes{0x06, 0x1A, 0x80}));
    const auto meters = Metas(items, 0x58);
    ASSERT_EQ(meters.size(), 2u);
    EXPECT_EQ(meters[1].time, 960);
    EXPECT_EQ(meters[1].data, (Bytes{3, 2, 24, 8}));
    const auto keys = Metas(items, 0x59);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[1].time, 960 + 360);
    EXPECT_EQ(keys[1].data, (Bytes{0xFE, 1}));
    EXPECT_EQ(Metas(items, 0x54).size(), 1u) << "the SMPTE offset is always written";

    const auto markers = Metas(items, 0x06);
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(Text(markers[0].data), "Intro");
    const auto cues = ProgramMetas(items, 22);
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_EQ(cues[0].time, 400) << "an ad lib stands at its restart time";
    EXPECT_EQ(cues[0].data, (Bytes{'c', 'v', 22, 5, 44, 2, 0, 0, 'S', 'o', 'l', 'o'}));
    EXPECT_EQ(cues[1].time, 1920);
    EXPECT_EQ(Text(cues[1].data), std::string("cv\x16\x03\x60\x03\x00\x00", 8) + "2||Chorus");
    EXPECT_EQ(items.back().status, 0xFF);
    EXPECT_EQ(items.back().type, 0x2F);
}

TEST(MidiFileWriter, ClippingOffsetsAskFirstAndCancelWritesNothing)
{
    TestContext context;
    TempFolder folder;
    auto song = NewSong(context);
    Track& first = AddTrack(*song, "Keys");
    first.keyOffset = 3;
    first.events.push_back(SongEvent::Note(0, 0, 126, 100, 60));
    Track& second = AddTrack(*song, "Pad");
    second.velocityOffset = 50;
    second.timeOffset = -100;
    second.events.push_back(SongEvent::Note(40, 0, 60, 100, 200));
    song->UpdateSongEnd(AllTracks);
    const std::string expected = "NOTE:\nTrack offsets will cause values to be clipped (set at limits):\n"
                                 "\nTrack 2:  velocity; time; \nTrack 1:  key; "
                                 "\n\nApply these offsets and save anyway?";
    EXPECT_EQ(OffsetQuestion(*song), expected);

    const std::string path = folder / "offsets.mid";
    EXPECT_FALSE(WriteSong(*song, path));
    ASSERT_EQ(context.prompter.questions.size(), 1u);
    EXPECT_EQ(context.prompter.questions[0], expected);
    EXPECT_TRUE(folder.Names().empty());
    EXPECT_EQ(first.keyOffset, 3);

    context.prompter.answers = {true};
    ASSERT_TRUE(WriteSong(*song, path));
    Song readBack(context.Context());
    ASSERT_TRUE(ReadSong(readBack, path));
    ASSERT_EQ(readBack.tracks.size(), 4u);
    const Track& keys = *readBack.tracks[1];
    EXPECT_EQ(keys.keyOffset, 0);
    ASSERT_EQ(keys.events.size(), 1u);
    EXPECT_EQ(keys.events[0].Data1(), 117) << "129 comes down an octave";
    const Track& pad = *readBack.tracks[2];
    EXPECT_EQ(pad.velocityOffset, 0);
    EXPECT_EQ(pad.timeOffset, 0);
    ASSERT_EQ(pad.events.size(), 1u);
    EXPECT_EQ(pad.events[0].time, 0);
    EXPECT_EQ(pad.events[0].length, 140) << "the part before the start is cut off";
    EXPECT_EQ(pad.events[0].Data2(), 127);
}

TEST(MidiFileWriter, SaveRenamesAfterTheTitleWithoutOverwriting)
{
    struct Case {
        const char* name;
        std::string folder;               // the song's folder inside the temp folder
        std::vector<std::string> present; // files made before the save
        std::string expectedPath;         // relative to the temp folder
        std::vector<std::string> expectedFiles;
    };
    const std::vector<Case> cases = {
        {"file and backup follow the title",
         "Set",
         {"Set/Old.bak"},
         "Set/A_B_ Live.mid",
         {"Set/A_B_ Live.mid", "Set/A_B_ Live.bak"}},
        {"a folder named after the song follows too",
         "Old",
         {},
         "A_B_ Live/A_B_ Live.mid",
         {"A_B_ Live/A_B_ Live.mid"}},
        {"an existing file of the new name is kept",
         "Set",
         {"Set/A_B_ Live.mid"},
         "Set/Old.mid",
         {"Set/Old.mid", "Set/A_B_ Live.mid"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestContext context;
        TempFolder folder;
        fs::create_directories(folder.Path() / c.folder);
        for (const std::string& name : c.present)
            WriteFile(folder / name, "keep me");
        auto song = NewSong(context);
        const std::string oldPath = folder / (c.folder + "/Old.mid");
        song->SetPathName(oldPath);
        song->title = "A/B: Live";
        std::string told;
        WriteOptions options;
        options.renamed = [&](const std::string& path) { told = path; };
        ASSERT_TRUE(WriteSong(*song, oldPath, options));
        EXPECT_EQ(song->pathName, folder / c.expectedPath);
        EXPECT_EQ(told, c.expectedPath.ends_with("Old.mid") ? "" : folder / c.expectedPath);
        for (const std::string& name : c.expectedFiles)
            EXPECT_TRUE(fs::exists(folder / name)) << name;
        for (const std::string& name : c.present) {
            if (fs::exists(folder / name) && name.ends_with(".mid")) {
                EXPECT_EQ(Text(ReadFile(folder / name)), "keep me");
            }
        }
        EXPECT_FALSE(fs::exists(folder / (c.folder + "/Old.bak")));
    }
}

TEST(MidiFileWriter, NormalSaveKeepsABackupAndClearsTheRecoveryAndSettingsFiles)
{
    TestContext context;
    TempFolder folder;
    context.profile.WriteInt("SaveOptions", "Backups", 1);
    WriteFile(folder / "Song.mid", "previous version");
    WriteFile(folder / "Song.bak", "older version");
    WriteFile(folder / "Song.sav", "recovery");
    WriteFile(folder / "Song.cv", "settings");
    WriteFile(folder / "Song.cv.sav", "recovery settings");
    auto song = NewSong(context);
    song->title = "Song";
    song->SetPathName(folder / "Song.mid");
    song->autosaveFlag = true;
    song->SetModifiedFlag(true);
    ASSERT_TRUE(WriteSong(*song, folder / "Song.mid"));
    EXPECT_EQ(Text(ReadFile(folder / "Song.bak")), "previous version");
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"Song.mid", "Song.bak", "Song.cv.sav"}));
    EXPECT_FALSE(song->autosaveFlag);
    EXPECT_FALSE(song->IsModified());
}

TEST(MidiFileWriter, AutosaveAsksNothingRenamesNothingAndLeavesTheSongModified)
{
    TestContext context;
    TempFolder folder;
    context.profile.WriteInt("SaveOptions", "Backups", 1);
    WriteFile(folder / "Old.mid", "the song");
    WriteFile(folder / "Old.cv", "settings");
    WriteFile(folder / "Old.cv.sav", "recovery settings");
    auto song = NewSong(context);
    song->SetPathName(folder / "Old.mid");
    song->title = "New Title";
    Track& track = AddTrack(*song, "Keys");
    track.keyOffset = 3;
    track.events.push_back(SongEvent::Note(0, 0, 126, 100, 60));
    song->UpdateSongEnd(AllTracks);
    song->SetModifiedFlag(true);

    ASSERT_TRUE(WriteSong(*song, folder / "Old.sav"));
    EXPECT_TRUE(context.prompter.questions.empty());
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"Old.mid", "Old.cv", "Old.sav"}));
    EXPECT_EQ(Text(ReadFile(folder / "Old.mid")), "the song");
    EXPECT_EQ(song->pathName, folder / "Old.mid");
    EXPECT_TRUE(song->IsModified());
    EXPECT_EQ(track.keyOffset, 3);
}

TEST(MidiFileWriter, SaveAsMovesTheDocumentToTheNewPathBeforeRenaming)
{
    TestContext context;
    TempFolder folder;
    auto song = NewSong(context);
    song->SetPathName(folder / "Old.mid");
    song->title = "Fresh";
    ASSERT_TRUE(WriteSong(*song, folder / "Copy.mid"));
    EXPECT_EQ(song->pathName, folder / "Fresh.mid");
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"Fresh.mid"}));

    WriteOptions exact;
    exact.exactPath = true;
    song->title = "Other";
    ASSERT_TRUE(WriteSong(*song, folder / "exact.mid", exact));
    EXPECT_EQ(song->pathName, folder / "exact.mid");
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"Fresh.mid", "exact.mid"}));
}

TEST(MidiFileWriter, TitleFileNameReplacesWhatCannotStandInAName)
{
    EXPECT_EQ(TitleFileName("A/B: Live"), "A_B_ Live");
    EXPECT_EQ(TitleFileName("\"x\"=[y]?*.\\;,"), "'x'-{y}______");
}

// Audio files that are plain files: any existing file opens, a copy is a byte copy.
class PlainAudioFiles final : public AudioFiles {
  public:
    class File final : public AudioFile {
      public:
        explicit File(std::string path) : path_(std::move(path)) {}
        uint32_t LengthMs() const override { return 1000; }
        WaveFormat Format() const override { return {}; }
        bool WriteCopy(const std::string& path, std::string& error) const override
        {
            std::error_code code;
            fs::copy_file(path_, path, code);
            error = code.message();
            return !code;
        }

      private:
        std::string path_;
    };
    std::unique_ptr<AudioFile> Open(const std::string& path, uint32_t& errorCode) override
    {
        if (!fs::exists(path)) {
            errorCode = 2;
            return nullptr;
        }
        return std::make_unique<File>(path);
    }
};

// The edit history as far as a save uses it.
class RecordingHistory final : public SongHistory {
  public:
    bool ApplyOffsets(Song& song) override
    {
        ++offsetsApplied;
        for (int number = 1; number <= song.UserTrackCount(); ++number)
            ApplyClippedOffsets(*song.tracks[static_cast<size_t>(number)]);
        return true;
    }
    void ForEachHeldClip(const std::function<void(AudioClip&)>& visit) override
    {
        for (auto& clip : heldClips)
            visit(*clip);
    }
    void MarkSaved() override { ++savedMarks; }
    bool IsModified() const override { return false; }

    std::vector<std::unique_ptr<AudioClip>> heldClips;
    int offsetsApplied = 0;
    int savedMarks = 0;
};

TEST(MidiFileWriter, ClipFilesMoveBetweenTheUndoFolderAndTheSongFolder)
{
    TempFolder folder;
    fs::create_directories(folder.Path() / "undoredo.wav");
    fs::create_directories(folder.Path() / "song" / "WaveData");
    const std::string undo = folder / "undoredo.wav/";
    TestContext test;
    PlainAudioFiles audio;
    const SongContext context{&test.profile, &test.prompter, &test.clock, &audio, undo};
    for (const char* name : {"undoredo.wav/taken.wav", "undoredo.wav/redo.wav", "song/WaveData/kept.wav",
                             "song/dropped.wav", "song/rewrite.WAV"})
        WriteFile(folder / name, name);

    Song song(context);
    song.NewSongDefaults();
    song.SetPathName(folder / "song/Song.mid");
    song.title = "Song";
    Track& track = AddTrack(song, "Audio");
    track.kind = 1;
    auto addClip = [&](int32_t time, const std::string& path, bool rewrite) -> AudioClip& {
        auto clip = std::make_unique<AudioClip>(path);
        uint32_t code = 0;
        clip->Open(audio, code);
        clip->rewrite = rewrite;
        AudioClip& added = *clip;
        track.events.push_back(SongEvent::Clip(time, std::move(clip)));
        return added;
    };
    AudioClip& fromUndo = addClip(0, folder / "undoredo.wav/taken.wav", false);
    AudioClip& kept = addClip(10, folder / "song/WaveData/kept.wav", false);
    AudioClip& rewritten = addClip(20, folder / "song/rewrite.WAV", true);
    AudioClip& missing = addClip(30, folder / "undoredo.wav/missing.wav", false);
    auto history = std::make_unique<RecordingHistory>();
    history->heldClips.push_back(std::make_unique<AudioClip>(folder / "song/dropped.wav"));
    history->heldClips.push_back(std::make_unique<AudioClip>(folder / "undoredo.wav/redo.wav"));
    RecordingHistory& steps = *history;
    song.history = std::move(history);

    ASSERT_TRUE(WriteSong(song, folder / "song/Song.mid"));
    EXPECT_EQ(fromUndo.fileName, folder / "song/WaveData/00001000.wav");
    EXPECT_EQ(Text(ReadFile(fromUndo.fileName)), "undoredo.wav/taken.wav");
    EXPECT_TRUE(fromUndo.IsOpen());
    EXPECT_EQ(kept.fileName, folder / "song/WaveData/kept.wav");
    EXPECT_EQ(rewritten.fileName, folder / "song/WaveData/00001001.wav");
    EXPECT_EQ(Text(ReadFile(rewritten.fileName)), "song/rewrite.WAV");
    EXPECT_FALSE(rewritten.rewrite);
    EXPECT_FALSE(fs::exists(folder / "song/rewrite.WAV"));
    EXPECT_EQ(missing.fileName, folder / "undoredo.wav/missing.wav") << "a failed move keeps the clip where it is";
    EXPECT_EQ(test.prompter.messages, (std::vector<std::string>{"Error moving file: 00000002"}));

    EXPECT_EQ(steps.heldClips[0]->fileName, undo + "00001000.wav");
    EXPECT_EQ(Text(ReadFile(steps.heldClips[0]->fileName)), "song/dropped.wav");
    EXPECT_EQ(steps.heldClips[1]->fileName, folder / "undoredo.wav/redo.wav");
    EXPECT_EQ(steps.savedMarks, 1);
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"song", "undoredo.wav"}));
}

TEST(MidiFileWriter, WithAHistoryTheOffsetsAreAppliedAsAnEdit)
{
    TestContext context;
    TempFolder folder;
    auto song = NewSong(context);
    Track& track = AddTrack(*song, "Keys");
    track.keyOffset = 3;
    track.events.push_back(SongEvent::Note(0, 0, 126, 100, 60));
    Settle(*song);
    auto history = std::make_unique<RecordingHistory>();
    RecordingHistory& steps = *history;
    song->history = std::move(history);
    context.prompter.answers = {true};
    ASSERT_TRUE(WriteSong(*song, folder / "keys.mid", WriteOptions{true, nullptr, {}}));
    EXPECT_EQ(steps.offsetsApplied, 1);
    EXPECT_EQ(steps.savedMarks, 1);
    EXPECT_EQ(track.keyOffset, 0);
    EXPECT_EQ(track.clipFlags, 0) << "the save encodes the track again after the edit";
}

// Passes everything to the disk but fails after a number of written bytes or on chosen renames.
class FaultyFiles final : public SaveFiles {
  public:
    std::optional<size_t> failAfterBytes;
    std::function<bool(const std::string& from, const std::string& to)> failRename;

    std::unique_ptr<FileSink> CreateTemporary(const std::string& target, std::string& tempPath,
                                              std::string& error) override
    {
        auto sink = disk_.CreateTemporary(target, tempPath, error);
        return sink ? std::make_unique<Sink>(*this, std::move(sink)) : nullptr;
    }
    bool Exists(const std::string& path) override { return disk_.Exists(path); }
    bool Rename(const std::string& from, const std::string& to, std::string& error) override
    {
        // One failure only: the undo renames that follow must work.
        if (failRename && failRename(from, to)) {
            failRename = nullptr;
            error = "simulated rename failure";
            return false;
        }
        return disk_.Rename(from, to, error);
    }
    bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) override
    {
        return disk_.RenameNoReplace(from, to, error);
    }
    bool Remove(const std::string& path) override { return disk_.Remove(path); }

  private:
    class Sink final : public FileSink {
      public:
        Sink(FaultyFiles& owner, std::unique_ptr<FileSink> inner) : owner_(owner), inner_(std::move(inner)) {}
        bool Write(const uint8_t* bytes, size_t size, std::string& error) override
        {
            if (owner_.failAfterBytes) {
                const size_t allowed = std::min(size, *owner_.failAfterBytes - owner_.written_);
                if (allowed < size) {
                    owner_.written_ += allowed;
                    (void)inner_->Write(bytes, allowed, error);
                    error = "simulated full disk";
                    return false;
                }
            }
            owner_.written_ += size;
            return inner_->Write(bytes, size, error);
        }
        bool Commit(std::string& error) override { return inner_->Commit(error); }

      private:
        FaultyFiles& owner_;
        std::unique_ptr<FileSink> inner_;
    };

    DiskSaveFiles disk_;
    size_t written_ = 0;
};

TEST(MidiFileWriter, AFailedSaveLeavesTheOldFileAndBackupUntouched)
{
    TestContext measuring;
    auto sample = NewSong(measuring);
    sample->title = "Song";
    AddTrack(*sample, "Keys").events.push_back(SongEvent::Note(0, 0, 60, 100, 60));
    const size_t fileSize = WriteSongToBytes(*sample).size();

    struct Case {
        const char* name;
        bool withBackup;
        std::optional<size_t> failAfter;
        std::function<bool(const std::string&, const std::string&)> failRename;
    };
    const auto endsWith = [](const char* tail) {
        return [tail](const std::string&, const std::string& to) { return to.ends_with(tail); };
    };
    const std::vector<Case> cases = {
        {"nothing written", true, 0, {}},
        {"inside the header", true, 9, {}},
        {"inside a chunk header", true, 18, {}},
        {"inside track 0", true, 40, {}},
        {"one byte short", true, fileSize - 1, {}},
        {"no backup kept, disk full", false, 30, {}},
        {"the new file cannot take the name", true, std::nullopt, endsWith("/Song.mid")},
        {"the new file cannot take the name, no backup", false, std::nullopt, endsWith("/Song.mid")},
        {"the old file cannot become the backup", true, std::nullopt, endsWith("/Song.bak")},
        {"the old backup cannot step aside", true, std::nullopt, endsWith("~")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestContext context;
        TempFolder folder;
        context.profile.WriteInt("SaveOptions", "Backups", c.withBackup ? 1 : 0);
        WriteFile(folder / "Song.mid", "the old song");
        WriteFile(folder / "Song.bak", "the old backup");
        auto song = NewSong(context);
        song->title = "Song";
        song->SetPathName(folder / "Song.mid");
        AddTrack(*song, "Keys").events.push_back(SongEvent::Note(0, 0, 60, 100, 60));
        song->SetModifiedFlag(true);
        FaultyFiles files;
        files.failAfterBytes = c.failAfter;
        files.failRename = c.failRename;
        WriteOptions options;
        options.files = &files;

        EXPECT_FALSE(WriteSong(*song, folder / "Song.mid", options));
        EXPECT_EQ(Text(ReadFile(folder / "Song.mid")), "the old song");
        EXPECT_EQ(Text(ReadFile(folder / "Song.bak")), "the old backup");
        EXPECT_EQ(folder.Names(), (std::set<std::string>{"Song.mid", "Song.bak"}));
        ASSERT_EQ(context.prompter.messages.size(), 1u);
        EXPECT_NE(context.prompter.messages[0].find("Song.mid"), std::string::npos);
        EXPECT_NE(context.prompter.messages[0].find("left as they were"), std::string::npos);
        EXPECT_TRUE(song->IsModified());
    }
}

TEST(MidiFileWriter, AFailedAutosaveLeavesThePreviousRecoveryFile)
{
    TestContext context;
    TempFolder folder;
    WriteFile(folder / "Song.sav", "last recovery");
    auto song = NewSong(context);
    song->SetPathName(folder / "Song.mid");
    FaultyFiles files;
    files.failAfterBytes = 20;
    WriteOptions options;
    options.files = &files;
    EXPECT_FALSE(WriteSong(*song, folder / "Song.sav", options));
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"Song.sav"}));
    EXPECT_EQ(Text(ReadFile(folder / "Song.sav")), "last recovery");
}

TEST(MidiFileWriter, ApplyClippedOffsetsTouchesOnlyTheFlaggedKinds)
{
    Track track;
    track.keyOffset = -5;
    track.velocityOffset = 10;
    track.timeOffset = -50;
    track.clipFlags = ClipKey;
    track.events.push_back(SongEvent::Note(10, 0, 2, 120, 100));
    track.events.push_back(SongEvent::Short(20, 0xA0, 130 - 128, 40));
    ApplyClippedOffsets(track);
    EXPECT_EQ(track.keyOffset, 0);
    EXPECT_EQ(track.velocityOffset, 10);
    EXPECT_EQ(track.timeOffset, -50);
    EXPECT_EQ(track.events[0].Data1(), 9) << "-3 goes up an octave";
    EXPECT_EQ(track.events[0].Data2(), 120);
    EXPECT_EQ(track.events[0].time, 10);
    EXPECT_EQ(track.events[1].Data1(), 9);
}

} // namespace
} // namespace cantivo
