#include "song/AudioClip.h"
#include "song/Song.h"
#include "song/TrackEncoder.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <memory>

namespace cantivo {
namespace {

// A song of track 0, `userTracks` default tracks and the trailing track, at timebase 120 and 120 bpm.
struct UpdateSong {
    test::TestContext context;
    Song song{context.Context()};

    explicit UpdateSong(int userTracks)
    {
        for (int i = 0; i < userTracks + 2; ++i)
            song.tracks.push_back(std::make_unique<Track>());
    }
    Track& TrackAt(int number) { return *song.tracks[static_cast<size_t>(number)]; }
};

// True when the image holds a channel message with this status and first data byte.
bool HasMessage(const Track& track, uint8_t status, uint8_t data1)
{
    const auto& image = track.image;
    for (size_t i = 0; i + 1 < image.size(); ++i)
        if (image[i] == status && image[i + 1] == data1)
            return true;
    return false;
}

TEST(UpdateSongEnd, SongEndIsTheLatestTrackEndOrCueTime)
{
    struct Case {
        const char* what;
        int32_t noteTime, noteLength, timeOffset, cueStop, cueRestart;
        int32_t expectedEnd;
    };
    const Case cases[] = {
        {"no events", -1, 0, 0, -1, -1, 0},
        {"note end", 100, 380, 0, -1, -1, 480},
        {"time offset moves the end", 100, 380, 20, -1, -1, 500},
        {"a vamp's stop-at", 100, 20, 0, 960, 480, 960},
        {"a skip's restart-at", 100, 20, 0, 240, 1200, 1200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateSong s(2);
        s.TrackAt(2).timeOffset = c.timeOffset;
        if (c.noteTime >= 0)
            s.TrackAt(2).events.push_back(SongEvent::Note(c.noteTime, 0, 60, 100, c.noteLength));
        if (c.cueStop >= 0)
            s.song.cues.push_back(std::make_unique<Cue>(Cue{"", CueMarker, 0, c.cueStop, c.cueRestart}));
        s.song.songEnd = 99999; // recomputed, not kept
        s.song.UpdateSongEnd();
        EXPECT_EQ(s.song.songEnd, c.expectedEnd);
        EXPECT_DOUBLE_EQ(s.song.songLength, c.expectedEnd * 500000.0 / 120);
    }
    UpdateSong bare(-2); // no tracks at all, not even track 0
    bare.song.songEnd = 5;
    bare.song.UpdateSongEnd();
    EXPECT_EQ(bare.song.songEnd, 0);
}

TEST(UpdateSongEnd, EncodesEveryTrackButTheTrailingOneWithASnapshotEveryEightQuarters)
{
    UpdateSong s(2);
    s.song.timebase = 96;
    s.TrackAt(2).events.push_back(SongEvent::Short(96 * 8 * 3, 0xB0, 7, 1));
    s.song.UpdateSongEnd();
    for (int number = 0; number < 3; ++number) {
        SCOPED_TRACE(number);
        EXPECT_FALSE(s.TrackAt(number).image.empty());
        EXPECT_EQ(s.TrackAt(number).snapshots.interval, 96 * 8);
    }
    // A locate into the last block resumes at the controller there.
    const SnapshotBlock* block = s.TrackAt(2).snapshots.BlockAt(96 * 8 * 3 - 1);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->itemTime, 96 * 8 * 3);
    EXPECT_TRUE(s.TrackAt(3).image.empty());
    EXPECT_EQ(s.TrackAt(3).snapshots.BlockAt(0), nullptr);
}

TEST(UpdateSongEnd, OneTrackEncodesOnlyItsGroup)
{
    UpdateSong s(3);
    for (int number : {1, 2}) {
        s.TrackAt(number).initial[InitPatch] = 10 * number;
        s.TrackAt(number).events.push_back(SongEvent::Note(100 * number, 0, 60, 100, 10));
    }
    s.TrackAt(3).outputChannel = 1;
    s.TrackAt(3).events.push_back(SongEvent::Note(0, 1, 60, 100, 50));

    s.TrackAt(3).image = {1, 2, 3}; // a stale image that must stay untouched
    s.TrackAt(3).end = 5000;
    s.TrackAt(1).end = 9000; // from an earlier, longer encoding
    s.song.UpdateSongEnd(2);
    EXPECT_EQ(s.TrackAt(3).image, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(s.TrackAt(0).image.empty());
    // Track 1 shares the channel with track 2 and is encoded with it.
    for (int number : {1, 2}) {
        SCOPED_TRACE(number);
        EXPECT_TRUE(HasMessage(s.TrackAt(number), 0xC0, static_cast<uint8_t>(10 * number)));
    }
    EXPECT_EQ(s.TrackAt(1).reSendTimes, (std::vector<int32_t>{0}));
    EXPECT_EQ(s.TrackAt(2).reSendTimes, (std::vector<int32_t>{200}));
    // The song end counts the group member before the chosen track with its new end, and still counts
    // the track that was not encoded.
    EXPECT_EQ(s.TrackAt(1).end, 110);
    EXPECT_EQ(s.song.songEnd, 5000);
}

TEST(UpdateSongEnd, AudioClipDurationFollowsTheTempoMap)
{
    UpdateSong s(1);
    s.song.tempoMap.entries.push_back(TempoChange{480, 250000, 0.0});
    s.song.RecomputeTempoTimes();
    Track& audio = s.TrackAt(1);
    audio.kind = 1;
    audio.reSendTimes = {5}; // stale
    audio.initial[InitPatch] = 3;
    audio.initial[InitVolume] = 90; // the audio mix follows it, so it is saved
    auto clip = std::make_unique<AudioClip>("WaveData/0000abcd.wav");
    clip->lengthMs = 2000; // from tick 240 (1 s): 1 s at 120 bpm to tick 480, 1 s at 240 bpm to tick 960
    audio.events.push_back(SongEvent::Clip(240, std::move(clip)));

    s.song.UpdateSongEnd(0); // audio tracks are done whatever `which` says
    EXPECT_EQ(audio.events[0].length, 720);
    EXPECT_EQ(audio.end, 960);
    EXPECT_EQ(s.song.songEnd, 960);
    EXPECT_EQ(audio.reSendTimes, std::vector<int32_t>{0});
    EXPECT_TRUE(HasMessage(audio, 0xB0, 7));
    EXPECT_FALSE(HasMessage(audio, 0xC0, 3)); // an audio track has no sound to choose
}

// Tracks that each fill every controller of every channel and change one every block: no track passes
// its own limit, the later tracks get what the earlier ones leave of the song's, and each says how far
// its snapshots reach.
TEST(UpdateSongEnd, SnapshotsOfAllTracksStayWithinTheSongsLimit)
{
    constexpr int Tracks = 5;
    constexpr int Changes = 2100; // blocks of some 2048 entries: past the track limit
    UpdateSong s(Tracks);
    for (int number = 1; number <= Tracks; ++number) {
        Track& track = s.TrackAt(number);
        for (int channel = 0; channel < 16; ++channel)
            for (int controller = 0; controller < 128; ++controller)
                track.events.push_back(
                    SongEvent::Short(0, static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller), 1));
        for (int block = 1; block <= Changes; ++block)
            track.events.push_back(SongEvent::Short(960 * block, 0xB0, 7, static_cast<uint8_t>(block & 0x7F)));
    }
    s.song.UpdateSongEnd(AllTracks);
    size_t total = 0;
    for (int number = 1; number <= Tracks; ++number) {
        SCOPED_TRACE(number);
        const TrackSnapshots& snapshots = s.TrackAt(number).snapshots;
        EXPECT_LE(snapshots.Entries(), MaxTrackSnapshotEntries);
        EXPECT_LT(snapshots.reach, 960 * Changes);
        EXPECT_EQ(snapshots.BlockAt(snapshots.reach), nullptr);
        total += snapshots.Entries();
    }
    EXPECT_LE(total, MaxSongSnapshotEntries);
    EXPECT_GT(total, MaxSongSnapshotEntries - 2 * 2048);
    EXPECT_LT(s.TrackAt(Tracks).snapshots.reach, s.TrackAt(1).snapshots.reach);
}

} // namespace
} // namespace cantivo
