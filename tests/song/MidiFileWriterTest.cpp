#include "song/MidiFileWriter.h"
#include "song/AtomicFile.h"
#include "song/AudioClip.h"
#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"
#include "song/SongFileNames.h"
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
using namespace std::string_literals;
using test::TestContext;
using Names = std::set<std::string>;

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
    Names Files() const
    {
        Names names;
        for (const auto& entry : fs::directory_iterator(path_))
            names.insert(entry.path().filename().string());
        return names;
    }

  private:
    fs::path path_;
};

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::unique_ptr<Song> NewSong(TestContext& context)
{
    auto song = std::make_unique<Song>(context.Context());
    song->NewSongDefaults();
    return song;
}

Track& AddTrack(Song& song, const std::string& name, std::vector<SongEvent> events = {})
{
    Track& track = **song.tracks.insert(song.tracks.end() - 1, std::make_unique<Track>());
    track.name = name;
    track.events = std::move(events);
    return track;
}

// One event of a chunk as a file reader sees it.
struct Item {
    int32_t time;
    uint8_t status;
    uint8_t type;     // meta type, or first data byte
    std::string data; // meta body, sysex bytes after 0xF0, or the channel message's data bytes
};

std::vector<Item> ParseChunk(const std::vector<uint8_t>& chunk)
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
    auto take = [&](size_t size) {
        size = std::min(size, chunk.size() - at);
        at += size;
        return std::string(chunk.begin() + static_cast<long>(at - size), chunk.begin() + static_cast<long>(at));
    };
    while (at < chunk.size()) {
        time += static_cast<int32_t>(varLen());
        const uint8_t status = chunk[at] >= 0x80 ? chunk[at++] : running;
        Item item{time, status, 0, {}};
        running = status < 0xF0 ? status : 0;
        if (status == 0xFF) {
            item.type = chunk[at++];
            item.data = take(varLen());
        } else if (status == 0xF0) {
            while (at < chunk.size() && chunk[at] != 0xF7)
                item.data += static_cast<char>(chunk[at++]);
            ++at;
        } else {
            item.type = chunk[at];
            item.data = take((status & 0xE0) == 0xC0 ? 1 : 2);
        }
        items.push_back(std::move(item));
    }
    return items;
}

// Time and body of the metas of one type; of the program's own metas ("cv"), those of one subtype.
using Stamped = std::vector<std::pair<int32_t, std::string>>;
Stamped Metas(const std::vector<Item>& items, uint8_t type, int subtype = -1)
{
    Stamped found;
    for (const Item& item : items)
        if (item.status == 0xFF && item.type == type && (subtype < 0 || item.data.starts_with("cv"s + char(subtype))))
            found.emplace_back(item.time, item.data);
    return found;
}

// Header and chunks; track 0's notes end with note-ons of velocity 0, like every other track's.
TEST(MidiFileWriter, HeaderIsFormatOneWithAChunkPerTrack)
{
    TestContext context;
    TempFolder folder;
    auto song = NewSong(context);
    AddTrack(*song, "Piano", {SongEvent::Note(0, 0, 60, 100, 120)});
    ASSERT_TRUE(WriteSong(*song, folder / "First.mid"));
    EXPECT_EQ(ReadText(folder / "First.mid").substr(0, 14), "MThd\0\0\0\x06\0\x01\0\x02\0\x78"s);

    song->tracks[0]->events = {SongEvent::Note(0, 1, 60, 100, 240), SongEvent::Note(120, 9, 36, 90, 0)};
    song->UpdateSongEnd(AllTracks);
    size_t noteOffs = 0;
    for (const Item& item : ParseChunk(ConductorTrackBytes(*song)))
        noteOffs += (item.status & 0xF0) == 0x90 && item.data == std::string{char(item.type), 0};
    EXPECT_EQ(noteOffs, 2u);
}

// Labels are written only where the numbering deviates from 1, 2, 3...
TEST(MidiFileWriter, MeasureLabelsOnlyWhenTheNumberingDeviates)
{
    struct Case {
        const char* name;
        size_t measure;
        uint16_t number;
        char letter;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {"plain numbering", 1, 2, 0, {}},
        {"one measure 12A", 1, 12, 'A', {"1", "12A", "3"}},
        {"letter only", 2, 0, 'B', {"1", "2", "B"}},
        {"renumbered", 0, 5, 0, {"5", "2", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestContext context;
        auto song = NewSong(context);
        song->measures.resize(3, song->measures[0]);
        for (size_t i = 0; i < 3; ++i)
            song->measures[i].number = static_cast<uint16_t>(i + 1);
        song->measures[c.measure].number = c.number;
        song->measures[c.measure].letter = static_cast<uint8_t>(c.letter);
        song->RelayMeasures();
        std::vector<std::string> labels;
        for (const auto& [time, body] : Metas(ParseChunk(ConductorTrackBytes(*song)), 0x7F, 20))
            labels.push_back(body.substr(3));
        EXPECT_EQ(labels, c.labels);
    }
}

// Tempo, meter and key only where they change (the one at tick 0 always); markers, and cues with the
// vamp count before "||"; the SMPTE offset always.
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
    for (const Cue& cue : {Cue{"Intro", CueMarker, 0, 0, 0, 0}, Cue{"Solo", CueAdLib, 0, 100, 400, 0},
                           Cue{"Chorus", CueVamp, 2, 1920, 1440, 0}})
        song->cues.push_back(std::make_unique<Cue>(cue));
    const std::vector<Item> items = ParseChunk(ConductorTrackBytes(*song));
    EXPECT_EQ(Metas(items, 0x51), (Stamped{{0, "\x07\xA1\x20"}, {960, "\x06\x1A\x80"}}));
    EXPECT_EQ(Metas(items, 0x58), (Stamped{{0, "\x04\x02\x18\x08"}, {960, "\x03\x02\x18\x08"}}));
    EXPECT_EQ(Metas(items, 0x59), (Stamped{{0, "\0\0"s}, {960 + 360, "\xFE\x01"}}));
    EXPECT_EQ(Metas(items, 0x54).size(), 1u);
    EXPECT_EQ(Metas(items, 0x06), (Stamped{{0, "Intro"}}));
    // An ad lib stands at its restart time.
    EXPECT_EQ(Metas(items, 0x7F, 22), (Stamped{{400, "cv\x16\x05\x2C\x02\0\0Solo"s},
                                               {1920, "cv\x16\x03\x60\x03\0\0"
                                                      "2||Chorus"s}}));
    EXPECT_EQ(items.back().status, 0xFF);
    EXPECT_EQ(items.back().type, 0x2F);
}

// Track 0's parameter events become their controller sequences on its channel, the parameter selected
// once; a message without its 0xF0 and 0xF7 gets them. Track 0 writes every status byte.
TEST(MidiFileWriter, ConductorSpellsOutParametersAndFramesSysex)
{
    TestContext context;
    auto song = NewSong(context);
    song->tracks[0]->outputChannel = 2;
    const uint8_t bare[] = {0x43, 0x10};
    song->tracks[0]->events = {SongEvent::Parameter(0, true, 5, 300), SongEvent::Parameter(10, true, 5, ParamIncrement),
                               SongEvent::Parameter(10, false, 0x81, ParamDecrement),
                               SongEvent::Sysex(20, bare, sizeof bare)};
    const std::vector<uint8_t> bytes = ConductorTrackBytes(*song);
    const std::string chunk(bytes.begin(), bytes.end());
    // The tempo at tick 0 stands between the two groups: at one tick track-0 events come first.
    for (const std::string& expected :
         {"\0\xB2\x65\0\0\xB2\x64\x05\0\xB2\x06\x02\0\xB2\x26\x2C"s, "\x0A\xB2\x60\0"
                                                                     "\0\xB2\x63\x01\0\xB2\x62\x01\0\xB2\x61\0"
                                                                     "\x0A\xF0\x43\x10\xF7"s})
        EXPECT_NE(chunk.find(expected), std::string::npos) << expected.size() << " bytes not found";
}

// Offsets that would clip values ask first; no writes nothing; yes applies them (key 126 + 3 comes down
// an octave, a note moved before tick 0 is cut to it) and only the offsets that clip.
TEST(MidiFileWriter, ClippingOffsetsAskFirstAndCancelWritesNothing)
{
    TestContext context;
    TempFolder folder;
    auto song = NewSong(context);
    Track& keys = AddTrack(*song, "Keys", {SongEvent::Note(0, 0, 126, 100, 60)});
    keys.keyOffset = 3;
    keys.velocityOffset = 10; // clips nothing, so it stays an offset
    Track& pad = AddTrack(*song, "Pad", {SongEvent::Note(40, 0, 60, 100, 200)});
    pad.velocityOffset = 50;
    pad.timeOffset = -100;
    song->UpdateSongEnd(AllTracks);

    const std::string path = folder / "offsets.mid";
    EXPECT_FALSE(WriteSong(*song, path));
    EXPECT_EQ(context.prompter.questions,
              std::vector<std::string>{"NOTE:\nTrack offsets will cause values to be clipped (set at limits):\n"
                                       "\nTrack 2:  velocity; time; \nTrack 1:  key; "
                                       "\n\nApply these offsets and save anyway?"});
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_EQ(keys.keyOffset, 3);

    context.prompter.answers = {true};
    ASSERT_TRUE(WriteSong(*song, path));
    Song readBack(context.Context());
    ASSERT_TRUE(ReadSong(readBack, path));
    ASSERT_EQ(readBack.tracks.size(), 4u);
    const Track& keysBack = *readBack.tracks[1];
    const Track& padBack = *readBack.tracks[2];
    ASSERT_EQ(keysBack.events.size(), 1u);
    ASSERT_EQ(padBack.events.size(), 1u);
    EXPECT_EQ(keysBack.keyOffset, 0);
    EXPECT_EQ(keysBack.velocityOffset, 10);
    EXPECT_EQ(keysBack.events[0].Data1(), 117);
    EXPECT_EQ(keysBack.events[0].Data2(), 100);
    EXPECT_EQ(padBack.velocityOffset, 0);
    EXPECT_EQ(padBack.timeOffset, 0);
    EXPECT_EQ(padBack.events[0].time, 0);
    EXPECT_EQ(padBack.events[0].length, 140);
    EXPECT_EQ(padBack.events[0].Data2(), 127);
}

// A save renames file and backup after the title ("A/B: Live" -> "A_B_ Live.mid"), the folder too when
// it is named after the song, but never over an existing file.
TEST(MidiFileWriter, SaveRenamesAfterTheTitleWithoutOverwriting)
{
    struct Case {
        const char* name;
        std::string folder;               // the song's folder inside the temp folder
        std::vector<std::string> present; // files made before the save
        std::string expectedPath;         // relative to the temp folder
        std::string expectedBackup;
    };
    const Case cases[] = {
        {"file and backup follow the title", "Set", {"Set/Old.bak"}, "Set/A_B_ Live.mid", "Set/A_B_ Live.bak"},
        {"a folder named after the song follows too", "Old", {}, "A_B_ Live/A_B_ Live.mid", ""},
        {"an existing file of the new name is kept", "Set", {"Set/A_B_ Live.mid"}, "Set/Old.mid", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestContext context;
        TempFolder folder;
        fs::create_directories(folder / c.folder);
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
        EXPECT_TRUE(fs::exists(song->pathName));
        EXPECT_TRUE(c.expectedBackup.empty() || fs::exists(folder / c.expectedBackup));
        for (const std::string& name : c.present)
            EXPECT_TRUE(!name.ends_with(".mid") || ReadText(folder / name) == "keep me") << name;
        EXPECT_FALSE(fs::exists(folder / (c.folder + "/Old.bak")));
    }
    EXPECT_EQ(TitleFileName("\"x\"=[y]?*.\\;,"), "'x'-{y}______");
}

// A plain save keeps the old file as the backup, removes the recovery and settings files, clears the
// modified flag; a save as works on the new path, renamed after the title unless the path is exact.
TEST(MidiFileWriter, NormalSaveKeepsABackupAndClearsTheRecoveryAndSettingsFiles)
{
    TestContext context;
    TempFolder folder;
    context.profile.WriteInt("SaveOptions", "Backups", 1);
    for (const char* name : {"Song.mid", "Song.bak", "Song.sav", "Song.cv", "Song.cv.sav"})
        WriteFile(folder / name, name);
    auto song = NewSong(context);
    song->title = "Song";
    song->SetPathName(folder / "Song.mid");
    song->autosaveFlag = true;
    song->SetModifiedFlag(true);
    ASSERT_TRUE(WriteSong(*song, folder / "Song.mid"));
    EXPECT_EQ(ReadText(folder / "Song.bak"), "Song.mid");
    EXPECT_EQ(folder.Files(), (Names{"Song.mid", "Song.bak", "Song.cv.sav"}));
    EXPECT_FALSE(song->autosaveFlag);
    EXPECT_FALSE(song->IsModified());

    song->title = "Fresh";
    ASSERT_TRUE(WriteSong(*song, folder / "Copy.mid"));
    EXPECT_EQ(song->pathName, folder / "Fresh.mid");
    WriteOptions exact;
    exact.exactPath = true;
    song->title = "Other";
    ASSERT_TRUE(WriteSong(*song, folder / "exact.mid", exact));
    EXPECT_EQ(song->pathName, folder / "exact.mid");
    EXPECT_EQ(folder.Files(), (Names{"Song.mid", "Song.bak", "Song.cv.sav", "Fresh.mid", "exact.mid"}));
}

// A settings file that stays would be read over the saved settings: the user is told to delete it.
TEST(MidiFileWriter, ASettingsFileThatCannotBeDeletedIsNamed)
{
    TestContext context;
    TempFolder folder;
    fs::create_directories(folder / "Song.cv/inside"); // unlink refuses a folder
    auto song = NewSong(context);
    song->title = "Song";
    ASSERT_TRUE(WriteSong(*song, folder / "Song.mid"));
    ASSERT_EQ(context.prompter.messages.size(), 1u);
    EXPECT_NE(context.prompter.messages[0].find(folder / "Song.cv"), std::string::npos);
    EXPECT_NE(context.prompter.messages[0].find("Delete it by hand"), std::string::npos);
    EXPECT_FALSE(song->IsModified());
}

TEST(MidiFileWriter, AutosaveAsksNothingRenamesNothingAndLeavesTheSongModified)
{
    TestContext context;
    TempFolder folder;
    context.profile.WriteInt("SaveOptions", "Backups", 1);
    for (const char* name : {"Old.mid", "Old.cv", "Old.cv.sav"})
        WriteFile(folder / name, name);
    auto song = NewSong(context);
    song->SetPathName(folder / "Old.mid");
    song->title = "New Title";
    AddTrack(*song, "Keys", {SongEvent::Note(0, 0, 126, 100, 60)}).keyOffset = 3;
    song->UpdateSongEnd(AllTracks);
    song->SetModifiedFlag(true);

    ASSERT_TRUE(WriteSong(*song, folder / "Old.sav"));
    EXPECT_TRUE(context.prompter.questions.empty());
    EXPECT_EQ(folder.Files(), (Names{"Old.mid", "Old.cv", "Old.sav"}));
    EXPECT_EQ(ReadText(folder / "Old.mid"), "Old.mid");
    EXPECT_EQ(song->pathName, folder / "Old.mid");
    EXPECT_TRUE(song->IsModified());
    EXPECT_EQ(song->tracks[1]->keyOffset, 3);
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
        if (!fs::exists(path) || (refuses && refuses(path))) {
            errorCode = 2;
            return nullptr;
        }
        return std::make_unique<File>(path);
    }

    std::function<bool(const std::string& path)> refuses; // files that will not open though they exist
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

// Clips move from the undo folder into the song's WaveData folder and back for clips only the history
// holds; with a history the offsets are applied as an edit and the saved point is marked.
TEST(MidiFileWriter, ClipFilesMoveBetweenTheUndoFolderAndTheSongFolder)
{
    TempFolder folder;
    fs::create_directories(folder / "undoredo.wav");
    fs::create_directories(folder / "song/WaveData");
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
        auto clip = std::make_unique<AudioClip>(folder / path);
        uint32_t code = 0;
        (void)clip->Open(audio, code); // a missing file stays closed, as a read leaves it
        clip->rewrite = rewrite;
        AudioClip& added = *clip;
        track.events.push_back(SongEvent::Clip(time, std::move(clip)));
        return added;
    };
    AudioClip& fromUndo = addClip(0, "undoredo.wav/taken.wav", false);
    AudioClip& kept = addClip(10, "song/WaveData/kept.wav", false);
    AudioClip& rewritten = addClip(20, "song/rewrite.WAV", true);
    AudioClip& missing = addClip(30, "undoredo.wav/missing.wav", false);
    Track& keys = AddTrack(song, "Keys", {SongEvent::Note(0, 0, 126, 100, 60)});
    keys.keyOffset = 3;
    song.UpdateSongEnd(AllTracks);
    auto history = std::make_unique<RecordingHistory>();
    history->heldClips.push_back(std::make_unique<AudioClip>(folder / "song/dropped.wav"));
    history->heldClips.push_back(std::make_unique<AudioClip>(folder / "undoredo.wav/redo.wav"));
    // Copies a step holds of clips the song plays: the file stays with the song, or the copy follows it.
    history->heldClips.push_back(std::make_unique<AudioClip>(folder / "song/WaveData/kept.wav"));
    history->heldClips.push_back(std::make_unique<AudioClip>(folder / "undoredo.wav/taken.wav"));
    RecordingHistory& steps = *history;
    song.history = std::move(history);
    test.prompter.answers = {true};

    ASSERT_TRUE(WriteSong(song, folder / "song/Song.mid"));
    EXPECT_EQ(fromUndo.fileName, folder / "song/WaveData/00001000.wav");
    EXPECT_EQ(ReadText(fromUndo.fileName), "undoredo.wav/taken.wav");
    EXPECT_TRUE(fromUndo.IsOpen());
    EXPECT_EQ(kept.fileName, folder / "song/WaveData/kept.wav");
    EXPECT_EQ(rewritten.fileName, folder / "song/WaveData/00001001.wav");
    EXPECT_EQ(ReadText(rewritten.fileName), "song/rewrite.WAV");
    EXPECT_FALSE(rewritten.rewrite);
    EXPECT_FALSE(fs::exists(folder / "song/rewrite.WAV"));
    EXPECT_EQ(missing.fileName, folder / "undoredo.wav/missing.wav") << "a failed move keeps the clip where it is";
    EXPECT_EQ(test.prompter.messages, (std::vector<std::string>{"Error moving file: 00000002"}));

    EXPECT_EQ(steps.heldClips[0]->fileName, undo + "00001000.wav");
    EXPECT_EQ(ReadText(steps.heldClips[0]->fileName), "song/dropped.wav");
    EXPECT_EQ(steps.heldClips[1]->fileName, folder / "undoredo.wav/redo.wav");
    EXPECT_EQ(steps.heldClips[2]->fileName, kept.fileName);
    EXPECT_EQ(ReadText(kept.fileName), "song/WaveData/kept.wav");
    EXPECT_EQ(steps.heldClips[3]->fileName, fromUndo.fileName);
    EXPECT_EQ(folder.Files(), (Names{"song", "undoredo.wav"}));
    EXPECT_EQ(steps.offsetsApplied, 1);
    EXPECT_EQ(steps.savedMarks, 1);
    EXPECT_EQ(keys.keyOffset, 0);
    EXPECT_EQ(keys.clipFlags, 0) << "the save encodes the track again after the edit";
}

// A song at `path` under a private folder, with one audio track whose clips are plain files.
struct ClipSong {
    explicit ClipSong(const std::string& path) { song.SetPathName(folder / path); }
    Track& NewAudioTrack()
    {
        song.NewSongDefaults();
        Track& track = AddTrack(song, "Audio");
        track.kind = 1;
        return track;
    }
    void AddClip(const std::string& name)
    {
        auto clip = std::make_unique<AudioClip>(folder / name);
        uint32_t code = 0;
        EXPECT_TRUE(clip->Open(audio, code)) << name;
        audioTrack.events.push_back(
            SongEvent::Clip(static_cast<int32_t>(audioTrack.events.size()) * 10, std::move(clip)));
        song.UpdateSongEnd(AllTracks);
    }
    RecordingHistory& HistoryHolding(const std::string& name)
    {
        auto history = std::make_unique<RecordingHistory>();
        history->heldClips.push_back(std::make_unique<AudioClip>(folder / name));
        RecordingHistory& steps = *history;
        song.history = std::move(history);
        return steps;
    }
    std::string ClipName(size_t index) const { return audioTrack.events[index].ClipData()->fileName; }

    TempFolder folder;
    TestContext test;
    PlainAudioFiles audio;
    SongContext context{&test.profile, &test.prompter, &test.clock, &audio, folder / "undoredo.wav/"};
    Song song{context};
    Track& audioTrack = NewAudioTrack();
};

// A song kept in a folder of its own name follows its title with the folder: its clips, and the
// copies its history holds, name their files in the renamed folder, so the next save finds them.
TEST(MidiFileWriter, ClipsFollowTheSongFolderRenamedAfterTheTitle)
{
    ClipSong f("Old/Old.mid");
    fs::create_directories(f.folder / "Old/WaveData");
    WriteFile(f.folder / "Old/WaveData/c.wav", "c");
    f.song.title = "New";
    f.AddClip("Old/WaveData/c.wav");
    RecordingHistory& steps = f.HistoryHolding("Old/WaveData/c.wav");

    ASSERT_TRUE(WriteSong(f.song, f.folder / "Old/Old.mid"));
    EXPECT_EQ(f.song.pathName, f.folder / "New/New.mid");
    EXPECT_EQ(f.ClipName(0), f.folder / "New/WaveData/c.wav");
    EXPECT_EQ(steps.heldClips[0]->fileName, f.folder / "New/WaveData/c.wav");
    ASSERT_TRUE(WriteSong(f.song, f.song.pathName));
    EXPECT_TRUE(f.test.prompter.messages.empty()) << f.test.prompter.messages.front();
    EXPECT_EQ(ReadText(f.folder / "New/WaveData/c.wav"), "c");
}

// A song saved into another folder takes copies of its own clips along (a rewritten one is written
// there, one from the undo folder moves there), and the old song keeps its files, even those only the
// history holds now: both read back whole.
TEST(MidiFileWriter, SaveIntoAnotherFolderTakesTheClipsAlong)
{
    ClipSong f("old/Song.mid");
    const TempFolder& folder = f.folder;
    for (const char* sub : {"old/WaveData", "new", "undoredo.wav"})
        fs::create_directories(folder / sub);
    for (const char* name : {"a", "edited", "deleted"})
        WriteFile(folder / ("old/WaveData/"s + name + ".wav"), name);
    WriteFile(folder / "undoredo.wav/taken.wav", "taken");
    f.AddClip("old/WaveData/a.wav");
    f.AddClip("old/WaveData/edited.wav");
    ASSERT_TRUE(WriteSong(f.song, folder / "old/Song.mid"));
    const std::string oldFile = ReadText(folder / "old/Song.mid");
    f.audioTrack.events[1].ClipData()->rewrite = true;
    f.AddClip("undoredo.wav/taken.wav");
    f.HistoryHolding("old/WaveData/deleted.wav");

    WriteOptions saveAs;
    saveAs.exactPath = true;
    ASSERT_TRUE(WriteSong(f.song, folder / "new/Copy.mid", saveAs));
    EXPECT_TRUE(f.test.prompter.messages.empty()) << f.test.prompter.messages.front();
    std::vector<std::string> contents;
    for (const SongEvent& event : f.audioTrack.events) {
        EXPECT_EQ(event.ClipData()->fileName.rfind(folder / "new/WaveData/", 0), 0u) << event.ClipData()->fileName;
        contents.push_back(ReadText(event.ClipData()->fileName));
    }
    EXPECT_EQ(contents, (std::vector<std::string>{"a", "edited", "taken"}));
    EXPECT_EQ(ReadText(folder / "old/WaveData/a.wav"), "a");
    EXPECT_EQ(ReadText(folder / "old/WaveData/edited.wav"), "edited") << "the old song still plays it";
    EXPECT_EQ(ReadText(folder / "old/WaveData/deleted.wav"), "deleted") << "the old file may still name it";
    EXPECT_FALSE(fs::exists(folder / "undoredo.wav/taken.wav"));
    EXPECT_EQ(ReadText(folder / "old/Song.mid"), oldFile);

    for (const auto& [saved, clips] : {std::pair{"old/Song.mid", 2u}, std::pair{"new/Copy.mid", 3u}}) {
        SCOPED_TRACE(saved);
        Song readBack(f.context);
        ASSERT_TRUE(ReadSong(readBack, folder / saved));
        EXPECT_TRUE(f.test.prompter.messages.empty()) << f.test.prompter.messages.front();
        EXPECT_EQ(readBack.tracks[1]->events.size(), clips);
    }
}

// Passes everything to the disk but fails after a number of written bytes or on one chosen rename.
class FaultyFiles final : public SaveFiles {
  public:
    std::optional<size_t> failAfterBytes;
    std::string failRenameTo;  // the first rename whose target ends so fails; the undo renames work
    std::error_code moveError; // what every move of a file reports, when set; nothing moves then
    std::error_code copyError; // likewise for copies

    std::unique_ptr<FileSink> CreateTemporary(const std::string& target, std::string& tempPath,
                                              std::string& error) override
    {
        auto sink = disk_.CreateTemporary(target, tempPath, error);
        return sink ? std::make_unique<Sink>(*this, std::move(sink)) : nullptr;
    }
    bool Exists(const std::string& path) override { return disk_.Exists(path); }
    bool Rename(const std::string& from, const std::string& to, std::string& error) override
    {
        if (!failRenameTo.empty() && to.ends_with(failRenameTo)) {
            failRenameTo.clear();
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
    std::error_code MoveNoReplace(const std::string& from, const std::string& to) override
    {
        return moveError ? moveError : disk_.MoveNoReplace(from, to);
    }
    std::error_code CopyNoReplace(const std::string& from, const std::string& to) override
    {
        return copyError ? copyError : disk_.CopyNoReplace(from, to);
    }

  private:
    class Sink final : public FileSink {
      public:
        Sink(FaultyFiles& owner, std::unique_ptr<FileSink> inner) : owner_(owner), inner_(std::move(inner)) {}
        bool Write(const uint8_t* bytes, size_t size, std::string& error) override
        {
            owner_.written_ += size;
            if (owner_.written_ <= owner_.failAfterBytes.value_or(SIZE_MAX))
                return inner_->Write(bytes, size, error);
            error = "simulated full disk";
            return false;
        }
        bool Commit(std::string& error) override { return inner_->Commit(error); }

      private:
        FaultyFiles& owner_;
        std::unique_ptr<FileSink> inner_;
    };

    DiskSaveFiles disk_;
    size_t written_ = 0;
};

// A save or autosave that fails at any point leaves the old file, its backup and the last recovery file
// as they were, says so, and leaves the song modified.
TEST(MidiFileWriter, AFailedSaveLeavesTheOldFileAndBackupUntouched)
{
    TestContext measuring;
    auto sample = NewSong(measuring);
    sample->title = "Song";
    AddTrack(*sample, "Keys", {SongEvent::Note(0, 0, 60, 100, 60)});
    const size_t fileSize = WriteSongToBytes(*sample).size();

    struct Case {
        const char* name;
        bool withBackup;
        std::optional<size_t> failAfter;
        std::string failRenameTo;
        std::string target = "Song.mid";
    };
    const Case cases[] = {
        {"nothing written", true, 0, ""},
        {"inside the header", true, 9, ""},
        {"inside a chunk header", true, 18, ""},
        {"inside track 0", true, 40, ""},
        {"one byte short", true, fileSize - 1, ""},
        {"no backup kept, disk full", false, 30, ""},
        {"the new file cannot take the name", true, std::nullopt, "/Song.mid"},
        {"the new file cannot take the name, no backup", false, std::nullopt, "/Song.mid"},
        {"the old file cannot become the backup", true, std::nullopt, "/Song.bak"},
        {"the old backup cannot step aside", true, std::nullopt, "~"},
        {"an autosave, disk full", true, 20, "", "Song.sav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestContext context;
        TempFolder folder;
        context.profile.WriteInt("SaveOptions", "Backups", c.withBackup ? 1 : 0);
        for (const char* name : {"Song.mid", "Song.bak", "Song.sav"})
            WriteFile(folder / name, name);
        auto song = NewSong(context);
        song->title = "Song";
        song->SetPathName(folder / "Song.mid");
        AddTrack(*song, "Keys", {SongEvent::Note(0, 0, 60, 100, 60)});
        song->SetModifiedFlag(true);
        FaultyFiles files;
        files.failAfterBytes = c.failAfter;
        files.failRenameTo = c.failRenameTo;
        WriteOptions options;
        options.files = &files;

        EXPECT_FALSE(WriteSong(*song, folder / c.target, options));
        for (const char* name : {"Song.mid", "Song.bak", "Song.sav"})
            EXPECT_EQ(ReadText(folder / name), name);
        EXPECT_EQ(folder.Files(), (Names{"Song.mid", "Song.bak", "Song.sav"}));
        ASSERT_EQ(context.prompter.messages.size(), 1u);
        EXPECT_NE(context.prompter.messages[0].find(c.target), std::string::npos);
        EXPECT_NE(context.prompter.messages[0].find("left as they were"), std::string::npos);
        EXPECT_TRUE(song->IsModified());
    }
}

// A clip coming from the undo folder into the song's folder: a move that fails is reported with the
// system's code and leaves the clip playing from where it was; across file systems the file is copied
// and the original removed, and a copy that fails leaves nothing behind. A clip that moved but will not
// open again is named to the user. The save itself succeeds each time.
TEST(MidiFileWriter, AClipMoveThatFailsIsReportedAndLosesNothing)
{
    const auto code = [](std::errc error) { return std::make_error_code(error); };
    const struct Case {
        const char* name;
        std::error_code moveError, copyError;
        bool reopenFails;
        bool moved;
        std::vector<std::string> messages; // "%s" stands for the clip's new file
    } cases[] = {
        {"the move is refused", code(std::errc::permission_denied), {}, false, false, {"Error moving file: 0000000d"}},
        {"another file system", code(std::errc::cross_device_link), {}, false, true, {}},
        {"another file system, the copy fails",
         code(std::errc::cross_device_link),
         code(std::errc::no_space_on_device),
         false,
         false,
         {"Error moving file: 0000001c"}},
        {"the moved clip will not open", {}, {}, true, true, {"Trouble opening audio clip %s: 00000002"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClipSong f("song/Song.mid");
        fs::create_directories(f.folder / "undoredo.wav");
        fs::create_directories(f.folder / "song");
        const std::string taken = f.folder / "undoredo.wav/taken.wav";
        WriteFile(taken, "taken");
        f.AddClip("undoredo.wav/taken.wav");
        const std::string target = f.folder / "song/WaveData/00001000.wav";
        if (c.reopenFails)
            f.audio.refuses = [&](const std::string& path) { return path == target; };
        FaultyFiles files;
        files.moveError = c.moveError;
        files.copyError = c.copyError;
        WriteOptions options;
        options.files = &files;

        ASSERT_TRUE(WriteSong(f.song, f.folder / "song/Song.mid", options));
        std::vector<std::string> expected = c.messages;
        for (std::string& message : expected)
            if (const size_t at = message.find("%s"); at != std::string::npos)
                message.replace(at, 2, target);
        EXPECT_EQ(f.test.prompter.messages, expected);
        const AudioClip& clip = *f.audioTrack.events[0].ClipData();
        EXPECT_EQ(clip.fileName, c.moved ? target : taken);
        EXPECT_EQ(ReadText(clip.fileName), "taken");
        EXPECT_EQ(fs::exists(taken), !c.moved);
        EXPECT_EQ(fs::exists(target), c.moved) << "a failed copy leaves no part of the file";
        EXPECT_EQ(clip.IsOpen(), !c.reopenFails);
        f.audio.refuses = nullptr; // the file is whole: once it opens again, the song plays it
        Song readBack(f.context);
        ASSERT_TRUE(ReadSong(readBack, f.folder / "song/Song.mid"));
        ASSERT_EQ(readBack.tracks[1]->events.size(), 1u);
        EXPECT_EQ(readBack.tracks[1]->events[0].ClipData()->fileName, clip.fileName) << "the file names the clip";
    }
}

} // namespace
} // namespace cantivo
