// Cues as a musician hears them: which beats sound, in which order, and where the song waits.
#include "EngineFixture.h"

#include <gtest/gtest.h>

#include <sstream>

namespace cantivo::test {
namespace {

constexpr int32_t Beat = 120; // ticks; a beat lasts half a second
constexpr int32_t Bar = 4 * Beat;

int32_t At(int measure, int beat = 0)
{
    return measure * Bar + beat * Beat;
}

// Twelve 4/4 measures with a note on every beat: the key says the measure, the velocity the beat.
std::unique_ptr<Song> BeatSong(TestContext& context, std::vector<Cue> cues)
{
    auto song = MakeSong(context, 1);
    Track& track = *song->tracks[1];
    for (int measure = 0; measure < 12; ++measure)
        for (int beat = 0; beat < 4; ++beat)
            track.events.push_back(SongEvent::Note(At(measure, beat), 0, static_cast<uint8_t>(60 + measure),
                                                   static_cast<uint8_t>(100 + beat), Beat - 20));
    for (Cue& cue : cues)
        song->cues.push_back(std::make_unique<Cue>(cue));
    Finish(*song);
    return song;
}

Cue MakeCue(int kind, int32_t stopAt, int32_t restartAt, int count = 0)
{
    Cue cue;
    cue.kind = kind;
    cue.stopAt = stopAt;
    cue.restartAt = restartAt;
    cue.count = count;
    return cue;
}

// "m.b" for every beat struck, in order.
std::string Heard(const RecordingDevice& device)
{
    std::ostringstream out;
    for (size_t i = 0; i < device.Count(); ++i) {
        const uint32_t m = device[i].message;
        if ((m & 0xF0) == 0x90 && ((m >> 16) & 0x7F) >= 100)
            out << ((m >> 8) & 0x7F) - 60 << "." << ((m >> 16) & 0x7F) - 100 << " ";
    }
    return out.str();
}

// The beats of "A-B" (measures A to B whole) and "A.b-C.d" (those beats), as Heard writes them.
std::string Beats(const std::string& spans)
{
    std::istringstream in(spans);
    std::string span, out;
    while (in >> span) {
        const size_t dash = span.find('-');
        auto parse = [](const std::string& text, bool end) {
            const size_t dot = text.find('.');
            const int measure = std::stoi(text.substr(0, dot));
            return measure * 4 + (dot == std::string::npos ? (end ? 3 : 0) : std::stoi(text.substr(dot + 1)));
        };
        const std::string first = span.substr(0, dash);
        const int from = parse(first, false);
        const int to = dash == std::string::npos ? parse(first, true) : parse(span.substr(dash + 1), true);
        for (int b = from; b <= to; ++b)
            out += std::to_string(b / 4) + "." + std::to_string(b % 4) + " ";
    }
    return out;
}

enum class Action { Tap, LastVamp, RepeatMeasure, SkipNextMeasure, NextCue, PreviousCue, Stop, Pause };

// Plays the song from the start with the UI loop's halt handling, doing each action at its time (ms).
void Perform(Engine& engine, const std::vector<std::pair<int, Action>>& actions, int64_t totalMilliseconds,
             bool tapFirst = true)
{
    Sequencer& s = *engine.sequencer;
    if (tapFirst)
        s.PlayTap();
    const int64_t start = engine.clock.NowMicroseconds();
    size_t next = 0;
    for (int64_t t = 0; t < totalMilliseconds * 1000; t += 10'000) {
        while (next < actions.size() && actions[next].first * 1000 <= t) {
            switch (actions[next].second) {
            case Action::Tap:
                s.PlayTap();
                break;
            case Action::LastVamp:
                s.LastVamp();
                break;
            case Action::RepeatMeasure:
                s.RepeatMeasure();
                break;
            case Action::SkipNextMeasure:
                s.SkipNextMeasure();
                break;
            case Action::NextCue:
                s.GotoNextCue();
                break;
            case Action::PreviousCue:
                s.GotoPreviousCue();
                break;
            case Action::Stop:
                s.Stop();
                break;
            case Action::Pause:
                s.Pause();
                break;
            }
            ++next;
        }
        engine.RunFor(start + t + 10'000 - engine.clock.NowMicroseconds());
        for (EngineMessage message : engine.Drain())
            if (message == EngineMessage::MsgPlaybackHalted)
                (void)s.SettleHalt();
    }
}

struct CueCase {
    const char* name;
    std::vector<Cue> cues;
    std::vector<std::pair<int, Action>> actions; // milliseconds after the start
    int64_t milliseconds;
    std::string heard; // as Beats spells it
    SequencerState state;
};

TEST(Cues, EachKindPlaysAsTheMusicianHearsIt)
{
    const std::vector<CueCase> cases = {
        {"vamp count 3 plays its section three times",
         {MakeCue(CueVamp, At(4), At(2), 3)},
         {},
         40'000,
         "0-3 2-3 2-3 4-11",
         SequencerState::Stopped},
        {"vamp count 1 never jumps", {MakeCue(CueVamp, At(4), At(2), 1)}, {}, 30'000, "0-11", SequencerState::Stopped},
        {"endless vamp finishes its pass after Last vamp",
         {MakeCue(CueVamp, At(4), At(2), 0)},
         {{14'500, Action::LastVamp}},
         40'000,
         "0-3 2-3 2-3 4-11",
         SequencerState::Stopped},
        {"Last vamp before the first pass plays it once",
         {MakeCue(CueVamp, At(4), At(2), 0)},
         {{5'000, Action::LastVamp}},
         30'000,
         "0-11",
         SequencerState::Stopped},
        {"Last vamp before the vamp's section does nothing",
         {MakeCue(CueVamp, At(4), At(2), 2)},
         {{1'000, Action::LastVamp}},
         30'000,
         "0-3 2-11",
         SequencerState::Stopped},
        {"breath relocates once",
         {MakeCue(CueBreath, At(4), At(3), 2)},
         {},
         30'000,
         "0-3 3-11",
         SequencerState::Stopped},
        {"skip jumps", {MakeCue(CueSkip, At(2), At(5))}, {}, 30'000, "0-1 5-11", SequencerState::Stopped},
        {"caesura cuts and waits for the tap",
         {MakeCue(CueCaesura, At(2), At(3))},
         {{9'000, Action::Tap}},
         30'000,
         "0-1 3-11",
         SequencerState::Stopped},
        {"caesura with no tap waits", {MakeCue(CueCaesura, At(2), At(3))}, {}, 12'000, "0-1", SequencerState::Stopped},
        {"fermata holds and plays on from restart-at",
         {MakeCue(CueFermata, At(2), At(2, 2))},
         {{8'000, Action::Tap}},
         30'000,
         "0-1 2.2-11",
         SequencerState::Stopped},
        {"hold and cut: the first tap cuts, the second plays on",
         {MakeCue(CueHoldAndCut, At(2), At(3))},
         {{6'000, Action::Tap}, {7'000, Action::Tap}},
         30'000,
         "0-1 3-11",
         SequencerState::Stopped},
        {"advance repeats until the tap, then jumps to its stop-at",
         {MakeCue(CueAdvance, At(4), At(2), 0)},
         {{13'200, Action::Tap}},
         40'000,
         "0-3 2-3 2.0-2.2 4-11",
         SequencerState::Stopped},
        {"advance and cut: the tap inside cuts and waits at stop-at",
         {MakeCue(CueAdvanceAndCut, At(4), At(2), 0)},
         {{13'200, Action::Tap}, {15'000, Action::Tap}},
         40'000,
         "0-3 2-3 2.0-2.2 4-11",
         SequencerState::Stopped},
        {"advance and cut stops after its last repeat",
         {MakeCue(CueAdvanceAndCut, At(4), At(2), 2)},
         {},
         20'000,
         "0-3 2-3",
         SequencerState::Stopped},
        {"repeat measure twice in one measure repeats it once",
         {},
         {{2'500, Action::RepeatMeasure}, {3'000, Action::RepeatMeasure}},
         30'000,
         "0-1 1-11",
         SequencerState::Stopped},
        {"skip next measure", {}, {{2'500, Action::SkipNextMeasure}}, 30'000, "0-1 3-11", SequencerState::Stopped},
        {"skip next measure in the last measure does nothing",
         {},
         {{22'500, Action::SkipNextMeasure}},
         30'000,
         "0-11",
         SequencerState::Stopped},
        // Times only a damaged file has: used as they stand, never a hang.
        {"vamp of length 0", {MakeCue(CueVamp, At(2), At(2), 3)}, {}, 30'000, "0-11", SequencerState::Stopped},
        {"vamp whose restart is after its stop jumps forward",
         {MakeCue(CueVamp, At(2), At(5), 0)},
         {},
         30'000,
         "0-1 5-11",
         SequencerState::Stopped},
        {"skip onto itself", {MakeCue(CueSkip, At(2), At(2))}, {}, 30'000, "0-11", SequencerState::Stopped},
    };
    for (const CueCase& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine;
        auto song = BeatSong(engine.context, c.cues);
        engine.Load(*song);
        engine.device->Clear();
        Perform(engine, c.actions, c.milliseconds);
        EXPECT_EQ(Heard(*engine.device), Beats(c.heard));
        EXPECT_EQ(engine.sequencer->State(), c.state);
        engine.sequencer->Stop();
        EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
    }
}

TEST(Cues, AFermataHoldsItsChordUntilTheTap)
{
    Engine engine;
    auto song = BeatSong(engine.context, {MakeCue(CueFermata, At(2), At(2, 2))});
    // A chord struck on the last beat before the fermata and written to last into the held bar.
    auto& events = song->tracks[1]->events;
    events.insert(events.begin() + 8, SongEvent::Note(At(1, 3), 0, 90, 90, 3 * Beat));
    Finish(*song);
    engine.Load(*song);
    engine.device->Clear();
    Perform(engine, {}, 9'000);
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Holding);
    EXPECT_EQ(engine.sequencer->Position(), At(2, 2));
    EXPECT_EQ(Sounding::Of(engine.device->Since(0)).notes, (std::set<std::pair<int, int>>{{0, 90}}));
    // The tap plays on from restart-at; the chord ends where it was written to, not struck again.
    const size_t before = engine.device->Count();
    Perform(engine, {{0, Action::Tap}}, 1'000, false);
    const auto after = engine.device->Since(before);
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const Sent& m) { return m.message == 0x5A5A90u; }), 0);
    EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).notes.count({0, 90}) == 0);
    EXPECT_EQ(Heard(*engine.device), Beats("0-1 2.2-2.3"));
}

TEST(Cues, AdLibPlaysTwoThirdsOfABeatPerTapFromTheNextBeat)
{
    Engine engine;
    auto song = BeatSong(engine.context, {MakeCue(CueAdLib, At(2), At(4))});
    engine.Load(*song);
    engine.device->Clear();
    std::vector<std::pair<int, Action>> taps;
    for (int i = 0; i < 6; ++i)
        taps.push_back({6'000 + i * 1'000, Action::Tap});
    Perform(engine, taps, 12'000);
    // Up to two thirds into the first beat of measure 2, then one beat per tap, holding in between.
    EXPECT_EQ(Heard(*engine.device), Beats("0-1 2.0-3.2"));
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Holding);
    EXPECT_EQ(engine.sequencer->Position(), At(3, 3));
    // The last beat waits at restart-at; the tap there plays on in time.
    engine.device->Clear();
    Perform(engine, {{0, Action::Tap}, {1'000, Action::Tap}}, 1'900, false);
    EXPECT_EQ(Heard(*engine.device), Beats("3.3-4.1"));
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Playing);
}

TEST(Cues, NavigationFindsTheCueTargetInEachState)
{
    Engine engine;
    auto song = BeatSong(engine.context, {MakeCue(CueMarker, At(3), At(3)), MakeCue(CueFermata, At(5), At(6)),
                                          MakeCue(CueCaesura, At(8), At(9))});
    engine.Load(*song);
    Sequencer& s = *engine.sequencer;
    s.GotoNextCue();
    EXPECT_EQ(s.Position(), At(3));
    EXPECT_EQ(s.State(), SequencerState::Stopped);
    s.GotoNextCue();
    EXPECT_EQ(s.Position(), At(6));
    s.GotoNextCue(); // the caesura's restart-at
    EXPECT_EQ(s.Position(), At(9));
    s.GotoNextCue(); // nothing after: stays
    EXPECT_EQ(s.Position(), At(9));
    // From the end, "previous" reaches the last cue.
    s.Locate(s.EndTick());
    s.GotoPreviousCue();
    EXPECT_EQ(s.Position(), At(9));
    s.GotoPreviousCue();
    EXPECT_EQ(s.Position(), At(6));
    // Holding: the song moves and keeps holding.
    s.Pause();
    s.GotoPreviousCue();
    EXPECT_EQ(s.State(), SequencerState::Holding);
    EXPECT_EQ(s.Position(), At(3));
    s.Stop();
    s.Locate(At(6));
    // Playing: a fermata pauses first, so the song holds there; a caesura stops first.
    s.PlayTap();
    engine.RunFor(100'000);
    s.GotoPreviousCue();
    EXPECT_EQ(s.State(), SequencerState::Holding);
    EXPECT_EQ(s.Position(), At(6));
    s.PlayTap();
    engine.RunFor(100'000);
    s.GotoNextCue();
    EXPECT_EQ(s.State(), SequencerState::Stopped);
    EXPECT_EQ(s.Position(), At(9));
    // A marker while playing is a forced play from its time.
    s.Locate(0);
    s.PlayTap();
    engine.RunFor(100'000);
    s.GotoNextCue();
    engine.RunFor(10'000);
    EXPECT_EQ(s.State(), SequencerState::Playing);
    EXPECT_GE(s.Position(), At(3));
    EXPECT_LT(s.Position(), At(3, 1));
    s.Stop();
    EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
}

TEST(Cues, LastVampIsEnabledOnlyInsideAPlayingVamp)
{
    Engine engine;
    auto song = BeatSong(engine.context, {MakeCue(CueVamp, At(4), At(2), 0)});
    engine.Load(*song);
    Sequencer& s = *engine.sequencer;
    EXPECT_FALSE(s.CanLastVamp());
    s.PlayTap();
    engine.RunFor(1'000'000);
    EXPECT_FALSE(s.CanLastVamp()) << "before the vamp's section";
    engine.RunFor(4'500'000);
    EXPECT_TRUE(s.CanLastVamp());
    EXPECT_EQ(s.Cues().kind, CueVamp);
    engine.RunFor(4'000'000);
    EXPECT_EQ(s.Cues().vampPass, 2);
    s.Stop();
    EXPECT_FALSE(s.CanLastVamp());
}

TEST(Cues, WithTheOptionATapInsideAVampIsLastVampAndLeavesTheTempo)
{
    Engine engine;
    engine.context.profile.WriteInt("FollowTap", "Enabled", 1);
    engine.context.profile.WriteInt("FollowTap", "Window", 50);
    engine.sequencer->Start(engine.context.profile, 2);
    auto song = BeatSong(engine.context, {MakeCue(CueVamp, At(4), At(2), 0)});
    engine.Load(*song);
    engine.device->Clear();
    Perform(engine, {{6'010, Action::Tap}}, 30'000);
    EXPECT_EQ(Heard(*engine.device), Beats("0-11"));
    EXPECT_EQ(engine.sequencer->TempoRatio(), Sequencer::NormalTempo);
}

} // namespace
} // namespace cantivo::test
