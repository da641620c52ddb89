#include "EngineFixture.h"

#include "song/MidiFileReader.h"
#include "song/RawEventReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace cantivo {
namespace {

using test::Engine;
using test::Finish;
using test::MakeSong;
using test::Sent;
using test::Sounding;

constexpr int64_t TickMicroseconds = 500000 / 120; // at 120 bpm and timebase 120 a tick is 1/240 s

void AddNote(Song& song, int track, int32_t time, int key, int32_t duration, int velocity = 100)
{
    Track& t = *song.tracks[static_cast<size_t>(track)];
    t.events.push_back(SongEvent::Note(time, static_cast<uint8_t>(t.outputChannel), static_cast<uint8_t>(key),
                                       static_cast<uint8_t>(velocity), duration));
}

void AddShort(Song& song, int track, int32_t time, int status, int data1, int data2 = 0)
{
    Track& t = *song.tracks[static_cast<size_t>(track)];
    t.events.push_back(SongEvent::Short(time, static_cast<uint8_t>(status | t.outputChannel),
                                        static_cast<uint8_t>(data1), static_cast<uint8_t>(data2)));
}

// A program change; a bank of -1 selects none.
void AddProgram(Song& song, int track, int32_t time, int program, int32_t bank = -1)
{
    Track& t = *song.tracks[static_cast<size_t>(track)];
    SongEvent event =
        SongEvent::Short(time, static_cast<uint8_t>(0xC0 | t.outputChannel), static_cast<uint8_t>(program));
    event.length = bank;
    t.events.push_back(std::move(event));
}

std::vector<uint32_t> Messages(const std::vector<Sent>& sent)
{
    std::vector<uint32_t> messages;
    for (const Sent& s : sent)
        messages.push_back(s.message);
    return messages;
}

std::vector<uint32_t> NoteOns(const std::vector<Sent>& sent)
{
    std::vector<uint32_t> notes;
    for (const Sent& s : sent)
        if ((s.message & 0xF0) == 0x90 && (s.message >> 16) != 0)
            notes.push_back(s.message);
    return notes;
}

std::filesystem::path Corpus()
{
    const char* variable = std::getenv("CANTIVO_CORPUS");
    return variable && *variable ? std::filesystem::path(variable) : std::filesystem::path(CANTIVO_CORPUS_DEFAULT);
}

TEST(Sequencer, EveryNoteOfACorpusSongArrivesInOrderAtItsTempoMapTime)
{
    const auto file = Corpus() / "files" / "be_sharp_bw_redfarn.mid";
    if (!std::filesystem::exists(file))
        GTEST_SKIP() << "no MIDI corpus at " << Corpus() << " (set CANTIVO_CORPUS)";
    Engine engine;
    Song song(engine.context.Context());
    ASSERT_TRUE(ReadSong(song, file.string()).ok);
    ASSERT_GE(song.tempoMap.entries.size(), 2u);
    engine.Load(song);

    // What should sound: every note-on of every image at its tempo-map time.
    struct Expected {
        double time;
        uint32_t message;
    };
    std::vector<Expected> expected;
    for (size_t i = 1; i + 1 < song.tracks.size(); ++i) {
        const RawEventReader reader(song.tracks[i]->image);
        RawReadState cursor;
        reader.Start(cursor);
        RawEvent event;
        while (reader.Next(cursor, event))
            if ((event.status & 0xF0) == 0x90 && event.data2 > 0 && song.tracks[i]->outputPort == 0)
                expected.push_back({song.TicksToMicroseconds(event.time),
                                    event.status | uint32_t{event.data1} << 8 | uint32_t{event.data2} << 16});
    }
    std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.time < b.time; });

    const int64_t start = engine.clock.NowMicroseconds();
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(static_cast<int64_t>(song.songLength) + 2'000'000);
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Holding);

    std::vector<Sent> played;
    for (const Sent& s : engine.device->Since(0))
        if ((s.message & 0xF0) == 0x90 && (s.message >> 16) != 0)
            played.push_back(s);
    ASSERT_EQ(played.size(), expected.size());
    // Tracks strike together in their own order; within one tick the sets must match.
    const double shortestTick = 1.0 * song.tempoMap.entries[0].microsecondsPerQuarter / song.timebase;
    for (size_t i = 0; i < played.size(); ++i) {
        const double late = static_cast<double>(played[i].time - start) - expected[i].time;
        ASSERT_LE(std::fabs(late), std::max(shortestTick, 1.0)) << "note " << i;
    }
}

TEST(Sequencer, ChaseSendsTheStateOfThePositionAndOnlyWhatDiffers)
{
    Engine engine;
    auto song = MakeSong(engine.context, 2);
    song->tracks[2]->outputChannel = 0; // both tracks share port 0, channel 1
    AddShort(*song, 1, 100, 0xB0, 7, 50);
    AddShort(*song, 2, 200, 0xB0, 7, 90);
    AddProgram(*song, 1, 10, 5);
    AddShort(*song, 1, 1000, 0xB0, 11, 70); // expression: first met between the block start and the target
    AddNote(*song, 1, 0, 60, 2000);
    Finish(*song);
    engine.Load(*song, 1300);
    const auto first = Messages(engine.device->Since(0));
    EXPECT_NE(std::find(first.begin(), first.end(), 0x5A07B0u), first.end()) << "the later volume wins";
    EXPECT_EQ(std::find(first.begin(), first.end(), 0x3207B0u), first.end());
    EXPECT_NE(std::find(first.begin(), first.end(), 0x05C0u), first.end());
    EXPECT_TRUE(NoteOns(engine.device->Since(0)).empty()) << "a chase while stopped sounds no notes";

    const size_t mark = engine.device->Count();
    engine.sequencer->Locate(1300);
    EXPECT_EQ(Messages(engine.device->Since(mark)), (std::vector<uint32_t>{0x460BB0}))
        << "only the controller met on the way";
}

TEST(Sequencer, ABankChangeAloneIsSentWithTheProgramThatFollowsIt)
{
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    AddProgram(*song, 1, 0, 5);         // no bank select before it
    AddProgram(*song, 1, 1000, 5, 128); // then the bank changes, the program stays
    AddNote(*song, 1, 2000, 60, 10);
    Finish(*song);
    engine.Load(*song, 10);
    EXPECT_EQ(Messages(engine.device->Since(0)), (std::vector<uint32_t>{0x05C0}));
    const size_t mark = engine.device->Count();
    engine.sequencer->Locate(1100);
    EXPECT_EQ(Messages(engine.device->Since(mark)), (std::vector<uint32_t>{0x0100B0, 0x0020B0, 0x05C0}));
}

TEST(Sequencer, AChordHeldAcrossARelocationKeepsSoundingInsteadOfBeingStruckAgain)
{
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    for (int key : {60, 64, 67})
        AddNote(*song, 1, 0, key, 1920);
    AddNote(*song, 1, 1920, 72, 100);
    Finish(*song);
    engine.Load(*song, 480);
    // Starting in the middle of the chord strikes it.
    engine.sequencer->PlayFrom(480, false);
    engine.RunFor(10'000);
    EXPECT_EQ(NoteOns(engine.device->Since(0)).size(), 3u);
    // Relocating inside the chord while it sounds leaves it alone.
    const size_t mark = engine.device->Count();
    engine.sequencer->PlayFrom(960, true);
    engine.RunFor(10'000);
    for (const Sent& s : engine.device->Since(mark))
        EXPECT_NE(s.message & 0xF0, 0x90u) << std::hex << s.message;
    // Relocating past it cuts it.
    engine.sequencer->PlayFrom(2100, true);
    engine.RunFor(10'000);
    EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).notes.empty());
}

TEST(Sequencer, PauseHoldsStopReleasesAndEveryEndingLeavesNothingSounding)
{
    struct Case {
        const char* name;
        void (*end)(Engine&);
    };
    const Case cases[] = {
        {"stop", [](Engine& e) { e.sequencer->Stop(); }},
        {"pause then stop",
         [](Engine& e) {
             e.sequencer->Pause();
             e.sequencer->Stop();
         }},
        {"shutdown", [](Engine& e) { e.sequencer->Shutdown(); }},
        {"end of song, then the halt handler stops",
         [](Engine& e) {
             e.RunFor(10'000'000);
             EXPECT_EQ(e.sequencer->State(), SequencerState::Holding);
             auto messages = e.Drain();
             EXPECT_NE(std::find(messages.begin(), messages.end(), EngineMessage::MsgPlaybackHalted), messages.end());
             e.sequencer->Stop();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine;
        auto song = MakeSong(engine.context, 1);
        AddShort(*song, 1, 0, 0xB0, 64, 127); // sustain down for good
        AddNote(*song, 1, 0, 60, 1000);
        AddNote(*song, 1, 240, 62, 1000);
        Finish(*song);
        engine.Load(*song);
        engine.sequencer->PlayFrom(0, false);
        engine.RunFor(1'100'000);
        ASSERT_EQ(Sounding::Of(engine.device->Since(0)).notes.size(), 2u);
        engine.sequencer->Pause();
        engine.RunFor(500'000);
        EXPECT_EQ(engine.sequencer->State(), SequencerState::Holding);
        EXPECT_EQ(Sounding::Of(engine.device->Since(0)).notes.size(), 2u) << "pause holds";
        if (std::string(c.name).starts_with("end"))
            engine.sequencer->PlayFrom(engine.sequencer->Position(), false);
        c.end(engine);
        EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
    }
}

TEST(Sequencer, PauseWhileStoppedSoundsAndHoldsTheNotesAtThePosition)
{
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    AddNote(*song, 1, 0, 60, 960);
    Finish(*song);
    engine.Load(*song, 480);
    engine.sequencer->Pause();
    EXPECT_EQ(NoteOns(engine.device->Since(0)), (std::vector<uint32_t>{0x643C90}));
    engine.sequencer->Stop();
    EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
}

TEST(Sequencer, AMutedTrackSendsNothingAndHoldsNothing)
{
    Engine engine;
    auto song = MakeSong(engine.context, 2);
    AddNote(*song, 1, 0, 60, 240);
    AddNote(*song, 2, 0, 62, 240);
    song->tracks[2]->play = 0;
    Finish(*song);
    engine.Load(*song);
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(200'000);
    engine.sequencer->SetTrackPlay(1, false); // muted while playing: its note-off still... is not sent either
    engine.RunFor(2'000'000);
    for (const Sent& s : engine.device->Since(0))
        EXPECT_NE(s.message & 0x0F, 1u) << "track 2 plays on channel 2";
    EXPECT_TRUE(engine.ports.Output(0).HeldNotes().empty() ||
                std::none_of(engine.ports.Output(0).HeldNotes().begin(), engine.ports.Output(0).HeldNotes().end(),
                             [](uint32_t n) { return (n & 0x0F) == 1; }));
}

TEST(Sequencer, TempoRatioTakesEffectAtTheNextTick)
{
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    AddNote(*song, 1, 240, 60, 10); // one second in at normal speed
    Finish(*song);
    engine.Load(*song);
    const int64_t start = engine.clock.NowMicroseconds();
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(500'000); // half the way
    engine.sequencer->SetTempoRatio(200000);
    engine.RunFor(500'000);
    const auto notes = engine.device->Since(0);
    const auto on = std::find_if(notes.begin(), notes.end(), [](const Sent& s) { return s.message == 0x643C90; });
    ASSERT_NE(on, notes.end());
    // The second half plays twice as fast: 0.75 s, within one period of the change.
    EXPECT_NEAR(static_cast<double>(on->time - start), 750'000, 2'000);
}

TEST(Sequencer, TempoAndVolumeCommandsStepAsTheTransportAsks)
{
    struct Case {
        int32_t from;
        void (Sequencer::*command)();
        int32_t to;
    };
    const Case tempo[] = {
        {199500, &Sequencer::TempoFaster, 200000}, {200000, &Sequencer::TempoFaster, 200000},
        {50500, &Sequencer::TempoSlower, 50500},   {51000, &Sequencer::TempoSlower, 50000},
        {100999, &Sequencer::TempoFaster, 101000}, {100999, &Sequencer::TempoSlower, 99000},
        {50999, &Sequencer::TempoSlower, 50999},   {123456, &Sequencer::TempoNormal, 100000},
    };
    for (const Case& c : tempo) {
        Engine engine;
        engine.sequencer->SetTempoRatio(c.from);
        (engine.sequencer.get()->*c.command)();
        EXPECT_EQ(engine.sequencer->TempoRatio(), c.to) << c.from;
    }
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    AddNote(*song, 1, 0, 60, 10);
    AddNote(*song, 1, 4800, 60, 10);
    Finish(*song);
    engine.Load(*song);
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(10'000);
    const size_t mark = engine.device->Count();
    engine.sequencer->VolumeDown(); // 16383 → 16256 - 128
    EXPECT_EQ(engine.sequencer->MasterVolume(), 16128);
    engine.RunFor(10'000);
    ASSERT_EQ(engine.device->Since(mark).size(), 1u);
    EXPECT_EQ(engine.device->LastLong(), (std::vector<uint8_t>{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7E, 0xF7}));
    for (int i = 0; i < 200; ++i)
        engine.sequencer->VolumeDown();
    EXPECT_EQ(engine.sequencer->MasterVolume(), 0);
    engine.sequencer->VolumeFull();
    EXPECT_EQ(engine.sequencer->MasterVolume(), 16383);
}

TEST(Sequencer, TheClickSoundsOnTheBeatsAndSkipsALateFirstBeat)
{
    struct Case {
        int32_t start;
        size_t clicks; // in the first measure and the first beat of the next
    };
    const Case cases[] = {{0, 5}, {11, 4}, {120, 4}};
    for (const Case& c : cases) {
        Engine engine(2, true);
        auto song = MakeSong(engine.context, 1);
        AddNote(*song, 1, 1900, 60, 10);
        Finish(*song);
        engine.Load(*song, c.start);
        engine.device->Clear();
        engine.sequencer->PlayFrom(c.start, false);
        engine.RunFor(static_cast<int64_t>((480 - c.start) * TickMicroseconds) + 5'000);
        std::vector<uint32_t> clicks;
        for (const Sent& s : engine.device->Since(0))
            if ((s.message & 0xFF) == 0x99 && (s.message >> 16) != 0)
                clicks.push_back(s.message);
        EXPECT_EQ(clicks.size(), c.clicks) << "start " << c.start;
        ASSERT_FALSE(clicks.empty());
        EXPECT_EQ(clicks.back(), 8332697u) << "beat 0 of the next measure is the accented click";
    }
}

TEST(Sequencer, ASongAtItsEndHaltsAtOnce)
{
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    AddNote(*song, 1, 0, 60, 10);
    Finish(*song);
    engine.Load(*song, song->measures.back().start);
    engine.sequencer->PlayFrom(engine.sequencer->Position(), false);
    engine.RunFor(10'000); // the events at the end tick itself are sent: the halt comes one tick later
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Holding);
    const auto messages = engine.Drain();
    EXPECT_NE(std::find(messages.begin(), messages.end(), EngineMessage::MsgPlaybackHalted), messages.end());
}

TEST(Sequencer, NavigationMovesByMeasuresAndNotes)
{
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    AddNote(*song, 1, 100, 60, 10);
    AddNote(*song, 1, 1000, 62, 10);
    AddNote(*song, 1, 1500, 64, 10);
    Finish(*song);
    engine.Load(*song);
    Sequencer& s = *engine.sequencer;
    s.NextMeasure();
    EXPECT_EQ(s.Position(), 480);
    s.NextNote();
    EXPECT_EQ(s.Position(), 1000);
    s.PreviousMeasure();
    EXPECT_EQ(s.Position(), 960);
    s.PreviousMeasure(); // exactly on a measure start: the one before
    EXPECT_EQ(s.Position(), 480);
    s.PreviousNote();
    EXPECT_EQ(s.Position(), 100);
    s.PreviousNote();
    EXPECT_EQ(s.Position(), 0);
    EXPECT_FALSE(s.CanGotoPreviousNote());
    s.GotoEnd();
    EXPECT_EQ(s.Position(), s.EndTick());
    EXPECT_FALSE(s.CanGotoNextNote());
    s.NextMeasure(); // already at the last measure entry
    EXPECT_EQ(s.Position(), s.EndTick());
}

TEST(Sequencer, MessagesLeaveAtTheirDueTimeNotAtTheNextTick)
{
    Engine engine(10); // a coarse 10 ms period
    auto song = MakeSong(engine.context, 1);
    AddNote(*song, 1, 1, 60, 1); // 4.17 ms in, between two ticks
    Finish(*song);
    engine.Load(*song);
    const int64_t start = engine.clock.NowMicroseconds();
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(50'000);
    const auto sent = engine.device->Since(0);
    ASSERT_FALSE(sent.empty());
    EXPECT_NEAR(static_cast<double>(sent[0].time - start), 500000.0 / 120, 1.0);
}

TEST(Sequencer, LocatingOntoASkipWhilePlayingLandsWhereTheSkipGoes)
{
    Engine engine;
    auto song = MakeSong(engine.context, 1);
    AddNote(*song, 1, 0, 60, 10);
    AddNote(*song, 1, 1900, 62, 10);
    auto skip = std::make_unique<Cue>();
    skip->kind = CueSkip;
    skip->stopAt = 480;
    skip->restartAt = 960;
    song->cues.push_back(std::move(skip));
    Finish(*song);
    engine.Load(*song);
    engine.sequencer->Locate(480); // stopped: the position is taken as it is
    EXPECT_EQ(engine.sequencer->Position(), 480);
    engine.sequencer->PlayFrom(0, false);
    engine.RunFor(10'000);
    engine.sequencer->PlayFrom(480, true);
    engine.RunFor(2'500); // the next tick chases
    EXPECT_EQ(engine.sequencer->Position(), 960);
}

} // namespace
} // namespace cantivo
