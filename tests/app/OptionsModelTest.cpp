#include "app/COptions.h"
#include "app/IniProfile.h"

#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <unistd.h>

namespace cantivo {
namespace {

using test::MemoryProfile;

void VisitAll(COptions& sheet)
{
    for (int i = 0; i < OptionsPageCount; ++i)
        sheet.SetActivePage(static_cast<OptionsPage>(i));
}

// Every int value the pages own, with a value inside its range other than its default.
struct StoredInt {
    const char* section;
    const char* value;
    int32_t number;
};

const StoredInt EveryInt[] = {
    {"StartupOptions", "AutoOpen", 0},
    {"StartupOptions", "CheckForUpdates", 1},
    {"PlaybackOptions", "TimerSource", 1},
    {"PlaybackOptions", "TimerResolution", 100},
    {"ClickOptions", "Enabled", 0},
    {"ClickOptions", "Lead", 500},
    {"ClickOptions", "Patch", 0x7F19},
    {"ClickOptions", "Click1", 0x5A2893},
    {"ClickOptions", "Click2", 0x002A93},
    {"Sequencer", "Options", 5},
    {"DisplayOptions", "Gradients", 0},
    {"DisplayOptions", "SmoothScroll", 0},
    {"RecordOptions", "Mode", 2},
    {"RecordOptions", "StepSize", 10},
    {"RecordOptions", "StepDot", 1},
    {"RecordOptions", "StepDuration", 12},
    {"RecordOptions", "StepDurDot", 1},
    {"RecordOptions", "StepVelocity", 127},
    {"ClickOptions", "Record", 0},
    {"RecordOptions", "FollowTempo", 0},
    {"RecordOptions", "CountIn", 8},
    {"RecordOptions", "EventFilter", 0x7301},
    {"StaffView", "Resolution", 2},
    {"StaffView", "Fill", 0},
    {"StaffView", "Trim", 0},
    {"StaffOptions", "PrintStaffSize", 8},
    {"AudioOptions", "SamplingDefault", 11},
    {"SaveOptions", "DefPath", 2},
    {"SaveOptions", "Backups", 1},
    {"SaveOptions", "AutoSave", 1},
    {"SaveOptions", "AutoSaveMin", 180},
    {"LyricView", "FontHeight", -13},
    {"LyricView", "FontWeight", 700},
    {"LyricView", "Color", 255},
    {"LyricView", "Backcolor", 0},
    {"LyricView", "Color2", 65280},
    {"LyricView", "Backcolor2", 1},
    {"LyricView", "Center", 1},
    {"LyricView", "Paginate", 1},
    {"LyricView", "Graphic", 1},
    {"LyricView", "Stretch", 2},
    {"FollowTap", "Enabled", 1},
    {"FollowTap", "Window", 50},
    {"FollowTap", "EnableJumpF", 0},
    {"FollowTap", "EnableJumpB", 1},
    {"FollowTap", "JumpStrength", 1},
    {"FollowTap", "EnableTempoMod", 0},
    {"FollowTap", "ModStrength", 100},
    {"FollowTap", "UseAverage", 1},
    {"FollowTap", "AveStrength", 1},
    {"FollowTap", "EnableTempoNorm", 1},
    {"FollowTap", "ReturnRate", 100},
    {"FollowTap", "Follower", 1},
    {"PlaybackOptions", "AutoAdvance", 0},
    {"PlaybackOptions", "AdvanceWait", 2000},
    {"PlaybackOptions", "AdvanceResetTempo", 0},
    {"PlaybackOptions", "AdvanceReset", 0},
};

struct StoredText {
    const char* section;
    const char* value;
    const char* text;
};

const StoredText EveryText[] = {
    {"ClickOptions", "Port", "Synth A"},
    {"SaveOptions", "Path", "/music/shows/"},
    {"LyricView", "FontName", "DejaVu Sans"},
    {"LyricView", "GfxPath", "/pictures/stage.bmp"},
    {"Macros", "1", "Chorus"},
    {"Macros", "5", "la la la"},
    {"Macros", "9", "\xC3\xA9t\xC3\xA9"},
};

OptionsLive TwoTimers()
{
    OptionsLive live;
    live.playback.timerSources = {"Internal Multimedia Timer", "High resolution"};
    live.display = {false, false};
    return live;
}

TEST(OptionsModel, EveryValueRoundTripsThroughOk)
{
    MemoryProfile stored;
    for (const auto& item : EveryInt)
        ASSERT_TRUE(stored.WriteInt(item.section, item.value, item.number));
    for (const auto& item : EveryText)
        ASSERT_TRUE(stored.WriteString(item.section, item.value, item.text));
    COptions sheet(stored, TwoTimers());
    EXPECT_TRUE(sheet.Adjusted().empty()) << sheet.AdjustedMessage();
    VisitAll(sheet);

    MemoryProfile written;
    const OptionsOutcome outcome = sheet.Ok(written);
    ASSERT_TRUE(outcome.accepted);
    for (const auto& item : EveryInt)
        EXPECT_EQ(written.GetInt(item.section, item.value, -999), item.number) << item.section << " " << item.value;
    for (const auto& item : EveryText)
        EXPECT_EQ(written.GetString(item.section, item.value, "?absent"), item.text)
            << item.section << " " << item.value;
    EXPECT_EQ(written.GetString("Macros", "2", "?absent"), "");
}

TEST(OptionsModel, AnEmptyStoreShowsEveryDefault)
{
    MemoryProfile empty;
    OptionsLive live;
    live.documentsFolder = "/home/me/Documents/";
    const COptions sheet(empty, live);
    struct Case {
        const char* name;
        int32_t shown;
        int32_t expected;
    };
    const Case cases[] = {
        {"AutoOpen", sheet.startup.autoOpen, 1},
        {"CheckForUpdates", sheet.startup.checkForUpdates, 0},
        {"TimerResolution", sheet.playback.timerResolution, 2},
        {"Click Enabled", sheet.playback.clickEnabled, 1},
        {"click channel", sheet.playback.clickChannel, 9},
        {"first note", sheet.playback.firstNote, 37},
        {"first velocity", sheet.playback.firstVelocity, 127},
        {"other velocity", sheet.playback.otherVelocity, 100},
        {"re-assert", sheet.playback.reassert, 0},
        {"last vamp", sheet.playback.lastVamp, 1},
        {"Gradients", sheet.display.values.gradients, 1},
        {"StepSize", sheet.record.stepSize, 3},
        {"CountIn", sheet.record.countIn, 1},
        {"EventFilter", static_cast<int32_t>(sheet.record.EventFilter()), 56064},
        {"Click Record", sheet.record.click, 1},
        {"Resolution", sheet.staff.resolution, 1},
        {"PrintStaffSize", sheet.staff.printStaffSize, 3},
        {"AutoSaveMin", sheet.save.autoSaveMinutes, 10},
        {"FontHeight", sheet.lyric.fontHeight, -24},
        {"Backcolor", sheet.lyric.backColor, 16777215},
        {"Backcolor2", sheet.lyric.highlightBackColor, 65535},
        {"Window", sheet.conductor.values.window, 20},
        {"EnableJumpF", sheet.conductor.values.jumpForward, 1},
        {"EnableJumpB", sheet.conductor.values.jumpBackward, 0},
        {"JumpStrength", sheet.conductor.values.jumpStrength, 80},
        {"AutoAdvance", sheet.set.autoAdvance, 1},
        {"AdvanceWait", sheet.set.delay, 1},
        {"AdvanceReset", sheet.set.reset, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shown, c.expected) << c.name;
    EXPECT_EQ(sheet.save.path, "/home/me/Documents/");
    EXPECT_EQ(sheet.lyric.fontName, "Times New Roman");
    EXPECT_EQ(sheet.playback.clickPort, "?");
    EXPECT_TRUE(sheet.Adjusted().empty());
}

TEST(OptionsModel, OutOfRangeValuesAreClampedOnLoadAndRewrittenOnlyOnOk)
{
    struct Case {
        const char* section;
        const char* value;
        int32_t stored;
        int32_t written; // what OK of the page stores
        OptionsPage page;
    };
    const Case cases[] = {
        {"PlaybackOptions", "TimerResolution", 0, 1, OptionsPage::Playback},
        {"PlaybackOptions", "TimerResolution", 101, 100, OptionsPage::Playback},
        {"PlaybackOptions", "TimerSource", 1, 0, OptionsPage::Playback}, // only one source offered
        {"ClickOptions", "Lead", -1, 0, OptionsPage::Playback},
        {"ClickOptions", "Lead", 501, 500, OptionsPage::Playback},
        {"ClickOptions", "Click1", 0xC82599, 0x7F2599, OptionsPage::Playback}, // velocity byte 200
        {"ClickOptions", "Click2", 0x642589, 0x642599, OptionsPage::Playback}, // a note-off is stored as a note-on
        {"ClickOptions", "Enabled", 2, 1, OptionsPage::Playback},
        {"StartupOptions", "AutoOpen", -4, 0, OptionsPage::Startup},
        {"RecordOptions", "Mode", 3, 2, OptionsPage::Record},
        {"RecordOptions", "StepSize", 11, 10, OptionsPage::Record},
        {"RecordOptions", "StepDuration", 13, 12, OptionsPage::Record},
        {"RecordOptions", "StepVelocity", 128, 127, OptionsPage::Record},
        {"RecordOptions", "CountIn", 9, 8, OptionsPage::Record},
        {"RecordOptions", "CountIn", -1, 0, OptionsPage::Record},
        {"RecordOptions", "EventFilter", 0x0200, 0x0300, OptionsPage::Record}, // note-on alone: both note bits
        {"StaffView", "Resolution", 3, 2, OptionsPage::Staff},
        {"StaffOptions", "PrintStaffSize", 9, 8, OptionsPage::Staff},
        {"AudioOptions", "SamplingDefault", 12, 11, OptionsPage::Audio},
        {"SaveOptions", "DefPath", 3, 2, OptionsPage::Save},
        {"SaveOptions", "AutoSaveMin", 0, 1, OptionsPage::Save},
        {"SaveOptions", "AutoSaveMin", 181, 180, OptionsPage::Save},
        {"LyricView", "Stretch", -1, 0, OptionsPage::Lyrics},
        {"LyricView", "FontHeight", 0, 4, OptionsPage::Lyrics},
        {"LyricView", "FontHeight", -2147483647 - 1, -400, OptionsPage::Lyrics},
        {"LyricView", "FontHeight", 401, 400, OptionsPage::Lyrics},
        {"LyricView", "FontWeight", 0, 100, OptionsPage::Lyrics},
        {"LyricView", "FontWeight", 1000, 900, OptionsPage::Lyrics},
        {"LyricView", "Color", -1, 0, OptionsPage::Lyrics},
        {"LyricView", "Backcolor", 0x1000000, 0xFFFFFF, OptionsPage::Lyrics},
        {"LyricView", "Color2", -5, 0, OptionsPage::Lyrics},
        {"LyricView", "Backcolor2", 0x7FFFFFFF, 0xFFFFFF, OptionsPage::Lyrics},
        {"FollowTap", "Window", 0, 1, OptionsPage::Conductor},
        {"FollowTap", "Window", 51, 50, OptionsPage::Conductor},
        {"FollowTap", "JumpStrength", 101, 100, OptionsPage::Conductor},
        {"FollowTap", "ModStrength", 0, 1, OptionsPage::Conductor},
        {"FollowTap", "AveStrength", 1000, 100, OptionsPage::Conductor},
        {"FollowTap", "ReturnRate", 0, 1, OptionsPage::Conductor},
        {"PlaybackOptions", "AutoAdvance", 3, 2, OptionsPage::Set},
        {"PlaybackOptions", "AdvanceReset", -1, 0, OptionsPage::Set},
        {"PlaybackOptions", "AdvanceWait", 1500, 1000, OptionsPage::Set},
        {"PlaybackOptions", "AdvanceWait", 999, 0, OptionsPage::Set},
        {"PlaybackOptions", "AdvanceWait", 3000, 2000, OptionsPage::Set},
        {"PlaybackOptions", "AdvanceWait", -1500, 0, OptionsPage::Set},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + " " + c.value + " " + std::to_string(c.stored));
        MemoryProfile profile;
        ASSERT_TRUE(profile.WriteInt(c.section, c.value, c.stored));
        {
            COptions cancelled(profile, {}, c.page);
            ASSERT_EQ(cancelled.Adjusted().size(), 1u) << cancelled.AdjustedMessage();
            EXPECT_EQ(cancelled.Adjusted()[0].section, c.section);
            EXPECT_EQ(cancelled.Adjusted()[0].value, c.value);
            EXPECT_NE(cancelled.AdjustedMessage().find("Nothing is lost"), std::string::npos);
        }
        EXPECT_EQ(profile.GetInt(c.section, c.value, -999), c.stored);

        COptions other(profile, {}, c.page == OptionsPage::Macros ? OptionsPage::Startup : OptionsPage::Macros);
        ASSERT_TRUE(other.Ok(profile).accepted);
        EXPECT_EQ(profile.GetInt(c.section, c.value, -999), c.stored) << "written by a page that was not visited";

        COptions sheet(profile, {}, c.page);
        ASSERT_TRUE(sheet.Ok(profile).accepted);
        EXPECT_EQ(profile.GetInt(c.section, c.value, -999), c.written);
    }
}

TEST(OptionsModel, NumbersOutsideTheirRangesAreRefusedAndNothingIsWritten)
{
    struct Case {
        OptionsPage page;
        std::function<void(COptions&)> edit;
        const char* label;
        const char* message;
    };
    const Case cases[] = {
        {OptionsPage::Playback, [](COptions& s) { s.playback.timerResolution = 0; }, "ms",
         "Please enter an integer between 1 and 100."},
        {OptionsPage::Playback, [](COptions& s) { s.playback.leadMilliseconds = 501; },
         "Lead time (ms):", "Please enter an integer between 0 and 500."},
        {OptionsPage::Playback, [](COptions& s) { s.playback.otherVelocity = 128; }, "Velocity",
         "Please enter an integer between 0 and 127."},
        {OptionsPage::Record, [](COptions& s) { s.record.stepVelocity = -1; },
         "Velocity:", "Please enter an integer between 0 and 127."},
        {OptionsPage::Record, [](COptions& s) { s.record.countIn = 9; }, "Count-in (measures)",
         "Please enter an integer between 0 and 8."},
        {OptionsPage::Save, [](COptions& s) { s.save.autoSaveMinutes = 181; }, "minutes",
         "Please enter an integer between 1 and 180."},
        {OptionsPage::Conductor, [](COptions& s) { s.conductor.values.window = 51; },
         "Window:", "Please enter an integer between 1 and 50."},
        {OptionsPage::Conductor, [](COptions& s) { s.conductor.values.returnRate = 0; },
         "Rate:", "Please enter an integer between 1 and 100."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MemoryProfile profile;
        COptions sheet(profile, {}, OptionsPage::Startup);
        sheet.SetActivePage(c.page);
        sheet.SetActivePage(OptionsPage::Macros);
        c.edit(sheet);
        const OptionsOutcome outcome = sheet.Ok(profile);
        EXPECT_FALSE(outcome.accepted);
        EXPECT_EQ(outcome.refusedPage, static_cast<int>(c.page));
        ASSERT_TRUE(outcome.refusal);
        EXPECT_EQ(outcome.refusal->label, c.label);
        EXPECT_EQ(outcome.refusal->message, c.message);
        EXPECT_EQ(sheet.ActivePage(), c.page);
        EXPECT_EQ(profile.GetInt("StartupOptions", "AutoOpen", -999), -999) << "an earlier page was written";
    }
}

TEST(OptionsModel, ConductorControlsFollowTheCheckBoxes)
{
    struct Case {
        bool enabled, forward, backward, modify;
        bool window, jumpStrength, modStrength;
    };
    const Case cases[] = {
        {false, true, true, true, false, false, false}, {true, false, false, false, true, false, false},
        {true, true, false, false, true, true, false},  {true, false, true, false, true, true, false},
        {true, false, false, true, true, false, true},  {true, true, true, true, true, true, true},
    };
    for (const Case& c : cases) {
        COptionsConductor page;
        page.values.enabled = c.enabled;
        page.values.jumpForward = c.forward;
        page.values.jumpBackward = c.backward;
        page.values.tempoModulation = c.modify;
        EXPECT_EQ(page.WindowEnabled(), c.window);
        EXPECT_EQ(page.JumpDirectionsEnabled(), c.enabled);
        EXPECT_EQ(page.TempoModEnabled(), c.enabled);
        EXPECT_EQ(page.JumpStrengthEnabled(), c.jumpStrength);
        EXPECT_EQ(page.ModStrengthEnabled(), c.modStrength);
    }
}

TEST(OptionsModel, NotAdvancingDisablesDelayAndTempoReset)
{
    for (int32_t mode : {0, 1, 2}) {
        COptionsSet page;
        page.autoAdvance = mode;
        EXPECT_EQ(page.DelayEnabled(), mode != 0);
        EXPECT_EQ(page.ResetTempoEnabled(), mode != 0);
    }
}

TEST(OptionsModel, ClickPortEntriesListDrumChannelsOfConfiguredPorts)
{
    MemoryProfile profile;
    ASSERT_TRUE(profile.WriteString("PortsToUse", "MIDIOUT0", "Synth A"));
    ASSERT_TRUE(profile.WriteString("PortsToUse", "MIDIOUT1", ""));
    ASSERT_TRUE(profile.WriteString("PortsToUse", "MIDIOUT2", "Synth A"));
    ASSERT_TRUE(profile.WriteString("PortsToUse", "MIDIOUT3", "No row"));
    ASSERT_TRUE(profile.WriteString("PortsToUse", "MIDIOUT15", "All/Drums"));
    ASSERT_TRUE(profile.WriteString("PortsToUse", "MIDIOUT16", "Beyond"));
    const auto entries = PlaybackChoices::PortEntries(profile, [](const std::string& name) -> std::optional<int32_t> {
        if (name == "Synth A")
            return (1 << 9) | (1 << 15);
        if (name == "All/Drums" || name == "Beyond")
            return 0;
        return std::nullopt;
    });
    std::vector<std::string> texts;
    for (const auto& entry : entries)
        texts.push_back(entry.text);
    ASSERT_EQ(texts.size(), 18u);
    EXPECT_EQ(texts[0], "Synth A/10");
    EXPECT_EQ(texts[1], "Synth A/16");
    EXPECT_EQ(texts[2], "All/Drums/1");
    EXPECT_EQ(texts[17], "All/Drums/16");
    EXPECT_EQ(entries[17].portName, "All/Drums");
    EXPECT_EQ(entries[17].channel, 15);
}

TEST(OptionsModel, APortEntrySplitsAtItsLastSlash)
{
    struct Case {
        const char* text;
        std::optional<std::pair<std::string, int32_t>> expected;
    };
    const Case cases[] = {
        {"Synth A/10", std::pair<std::string, int32_t>{"Synth A", 9}},
        {"A/B/1", std::pair<std::string, int32_t>{"A/B", 0}},
        {"A/16", std::pair<std::string, int32_t>{"A", 15}},
        {"A/17", std::nullopt},
        {"A/0", std::nullopt},
        {"A/3x", std::nullopt},
        {"A/", std::nullopt},
        {"/3", std::nullopt},
        {"no slash", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto split = SplitClickPortEntry(c.text);
        ASSERT_EQ(split.has_value(), c.expected.has_value()) << c.text;
        if (split) {
            EXPECT_EQ(split->portName, c.expected->first) << c.text;
            EXPECT_EQ(split->channel, c.expected->second) << c.text;
        }
    }
}

TEST(OptionsModel, ChoosingClickPortAndDrumSetPacksTheNoteOns)
{
    MemoryProfile profile;
    ASSERT_TRUE(profile.WriteString("ClickOptions", "Port", "Gone"));
    ASSERT_TRUE(profile.WriteInt("ClickOptions", "Patch", 0x0119));
    OptionsLive live;
    live.playback.ports = {{"Synth A/10", "Synth A", 9}, {"Synth A/11", "Synth A", 10}};
    live.playback.drumSets["Synth A"] = {{0x0010, "0/16: Power"}, {0x7F00, "127/0: Standard"}};
    COptions sheet(profile, live, OptionsPage::Playback);
    EXPECT_EQ(sheet.playback.PortIndex(), -1) << "a port that is gone is kept, not replaced";
    EXPECT_EQ(sheet.playback.DrumSetIndex(), -1);

    sheet.playback.SelectPort(1);
    sheet.playback.SelectDrumSet(1);
    sheet.playback.firstNote = 76;
    sheet.playback.otherVelocity = 64;
    sheet.playback.reassert = true;
    sheet.playback.lastVamp = false;
    EXPECT_EQ(sheet.playback.PortIndex(), 1);
    EXPECT_EQ(sheet.playback.DrumSetIndex(), 1);
    ASSERT_TRUE(sheet.Ok(profile).accepted);
    EXPECT_EQ(profile.GetString("ClickOptions", "Port", ""), "Synth A");
    EXPECT_EQ(profile.GetInt("ClickOptions", "Patch", 0), 0x7F00);
    EXPECT_EQ(profile.GetInt("ClickOptions", "Click1", 0), 0x7F4C9A);
    EXPECT_EQ(profile.GetInt("ClickOptions", "Click2", 0), 0x40259A);
    EXPECT_EQ(profile.GetInt("Sequencer", "Options", 0), 1);
    const ClickSettings click = sheet.playback.Click(false);
    EXPECT_EQ(click.firstBeat, 0x7F4C9Au);
    EXPECT_EQ(click.portName, "Synth A");
    EXPECT_FALSE(click.whileRecording);

    COptions unchanged(profile, live, OptionsPage::Playback);
    EXPECT_EQ(unchanged.playback.PortIndex(), 1);
    unchanged.playback.SelectPort(7); // not an entry
    EXPECT_EQ(unchanged.playback.clickChannel, 10);
}

TEST(OptionsModel, BitsThePagesDoNotShowAreKept)
{
    MemoryProfile profile;
    ASSERT_TRUE(profile.WriteInt("Sequencer", "Options", 0x0C | 1));
    ASSERT_TRUE(profile.WriteInt("RecordOptions", "EventFilter", 0x10000 | 0x0300 | 0x0001));
    COptions sheet(profile, {}, OptionsPage::Playback);
    sheet.SetActivePage(OptionsPage::Record);
    sheet.playback.reassert = false;
    sheet.playback.lastVamp = true;
    sheet.record.eventTypes[0] = false;
    sheet.record.eventTypes[6] = true;
    ASSERT_TRUE(sheet.Ok(profile).accepted);
    EXPECT_EQ(profile.GetInt("Sequencer", "Options", 0), 0x0C | 2);
    EXPECT_EQ(profile.GetInt("RecordOptions", "EventFilter", 0), 0x10000 | 0x8000 | 0x0001);
}

TEST(OptionsModel, SavePathIsWrittenOnlyForAFixedFolder)
{
    struct Case {
        int32_t defPath;
        bool backups, autoSave;
        bool pathWritten, timerOn;
    };
    const Case cases[] = {
        {0, true, true, false, true},
        {1, false, true, false, false},
        {2, true, false, true, false},
    };
    for (const Case& c : cases) {
        MemoryProfile profile;
        COptions sheet(profile, {}, OptionsPage::Save);
        sheet.save.defPath = c.defPath;
        sheet.save.backups = c.backups;
        sheet.save.autoSave = c.autoSave;
        sheet.save.ChooseFolder("/shows");
        EXPECT_EQ(sheet.save.path, "/shows/");
        EXPECT_EQ(sheet.save.AutosaveTimerOn(), c.timerOn);
        ASSERT_TRUE(sheet.Ok(profile).accepted);
        EXPECT_EQ(profile.GetString("SaveOptions", "Path", "?absent"), c.pathWritten ? "/shows/" : "?absent");
    }
}

TEST(OptionsModel, MacrosKeepEightyCharacters)
{
    const std::string eighty(80, 'x');
    const std::string accented = std::string(79, 'a') + "\xC3\xA9\xC3\xA9"; // 81 characters, 83 bytes
    MemoryProfile profile;
    ASSERT_TRUE(profile.WriteString("Macros", "1", eighty));
    ASSERT_TRUE(profile.WriteString("Macros", "2", eighty + "y"));
    ASSERT_TRUE(profile.WriteString("Macros", "3", accented));
    COptions sheet(profile, {}, OptionsPage::Macros);
    EXPECT_EQ(sheet.macros.texts[0], eighty);
    EXPECT_EQ(sheet.macros.texts[1], eighty);
    EXPECT_EQ(sheet.macros.texts[2], std::string(79, 'a') + "\xC3\xA9");
    EXPECT_EQ(sheet.Adjusted().size(), 2u);
    EXPECT_EQ(profile.GetString("Macros", "2", ""), eighty + "y");
    sheet.macros.SetText(3, accented);
    EXPECT_EQ(CharacterCount(sheet.macros.texts[3]), 80u);
    EXPECT_EQ(COptionsMacros::Label(8), "%9");
}

TEST(OptionsModel, OkReportsChangedKeysAndCancelWritesNothing)
{
    MemoryProfile profile;
    ASSERT_TRUE(profile.WriteInt("StartupOptions", "AutoOpen", 1));
    ASSERT_TRUE(profile.WriteInt("StartupOptions", "CheckForUpdates", 0));
    {
        COptions cancelled(profile, {});
        cancelled.startup.autoOpen = false;
    }
    EXPECT_EQ(profile.GetInt("StartupOptions", "AutoOpen", -1), 1);

    COptions sheet(profile, {});
    sheet.startup.checkForUpdates = true;
    const OptionsOutcome outcome = sheet.Ok(profile);
    ASSERT_TRUE(outcome.accepted);
    EXPECT_TRUE(outcome.Applied(OptionsPage::Startup));
    EXPECT_FALSE(outcome.Applied(OptionsPage::Playback));
    EXPECT_EQ(outcome.changed, (std::vector<SettingKey>{{"StartupOptions", "CheckForUpdates"}}));
    EXPECT_TRUE(outcome.message.empty());
}

// A store that refuses to write one section.
class RefusingProfile final : public Profile {
  public:
    int32_t GetInt(const std::string& s, const std::string& v, int32_t f) const override
    {
        return inner.GetInt(s, v, f);
    }
    std::string GetString(const std::string& s, const std::string& v, const std::string& f) const override
    {
        return inner.GetString(s, v, f);
    }
    bool WriteInt(const std::string& s, const std::string& v, int32_t n) override
    {
        return s != "FollowTap" && inner.WriteInt(s, v, n);
    }
    bool WriteString(const std::string& s, const std::string& v, const std::string& t) override
    {
        return inner.WriteString(s, v, t);
    }
    std::optional<std::vector<uint8_t>> GetBinary(const std::string&, const std::string&) const override
    {
        return std::nullopt;
    }
    bool WriteBinary(const std::string&, const std::string&, const std::vector<uint8_t>&) override { return false; }
    std::vector<std::string> EnumValues(const std::string&) const override { return {}; }
    bool DeleteValue(const std::string&, const std::string&) override { return false; }
    MemoryProfile inner;
};

TEST(OptionsModel, AFailedWriteIsReportedAndTheOtherValuesAreStillWritten)
{
    RefusingProfile profile;
    COptions sheet(profile, {}, OptionsPage::Conductor);
    sheet.SetActivePage(OptionsPage::Set);
    sheet.set.autoAdvance = 2;
    const OptionsOutcome outcome = sheet.Ok(profile);
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.failed.size(), 12u);
    EXPECT_NE(outcome.message.find("FollowTap Window"), std::string::npos);
    EXPECT_EQ(profile.GetInt("PlaybackOptions", "AutoAdvance", -1), 2);
}

TEST(OptionsModel, FixedTexts)
{
    EXPECT_EQ(COptionsAudio::Formats().size(), 12u);
    EXPECT_EQ(COptionsAudio::Formats().front(), "11.025 kHz, Mono,   8-bit");
    EXPECT_EQ(COptionsAudio::Formats()[5], "22.05  kHz, Mono,  16-bit");
    EXPECT_EQ(COptionsAudio::Formats().back(), "44.1   kHz, Stereo,16-bit");
    const auto durations = COptionsRecord::Durations();
    ASSERT_EQ(durations.size(), 13u);
    EXPECT_EQ(durations[1], "Same as step size");
    EXPECT_EQ(durations[12], "Thirty-second triplet");
    EXPECT_STREQ(COptions::PageTitle(OptionsPage::Lyrics), "Lyrics");
    EXPECT_STREQ(COptions::PageHelp(OptionsPage::Record), "::/Record.htm#OPTIONS");
    EXPECT_STREQ(COptions::PageHelp(OptionsPage::Audio), "");
}

TEST(OptionsModel, DisplayAndPunchComeFromLiveValues)
{
    MemoryProfile profile;
    ASSERT_TRUE(profile.WriteInt("DisplayOptions", "Gradients", 1));
    OptionsLive live;
    live.display = {false, true};
    live.record = {480, 960};
    COptions sheet(profile, live, OptionsPage::Display);
    EXPECT_FALSE(sheet.display.values.gradients);
    EXPECT_EQ(sheet.record.punch, (RecordLive{480, 960}));
    ASSERT_TRUE(sheet.Ok(profile).accepted);
    EXPECT_EQ(profile.GetInt("DisplayOptions", "Gradients", -1), 0);
}

TEST(OptionsModel, ASecondOkOverTheSettingsFileChangesNothing)
{
    std::string folder = (std::filesystem::temp_directory_path() / "cantivo-options-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string path = folder + "/Cantivo.ini";
    {
        IniProfile profile(path);
        COptions sheet(profile, {});
        VisitAll(sheet);
        sheet.macros.SetText(0, "");
        sheet.save.defPath = 2;
        sheet.save.ChooseFolder("/shows");
        const OptionsOutcome first = sheet.Ok(profile);
        ASSERT_TRUE(first.accepted);
        EXPECT_FALSE(first.changed.empty());
        EXPECT_TRUE(first.failed.empty());
    }
    IniProfile reopened(path);
    COptions again(reopened, {});
    EXPECT_EQ(again.save.path, "/shows/");
    EXPECT_FALSE(again.conductor.values.jumpBackward);
    VisitAll(again);
    const OptionsOutcome second = again.Ok(reopened);
    ASSERT_TRUE(second.accepted);
    EXPECT_TRUE(second.changed.empty()) << second.changed.front().section << " " << second.changed.front().value;
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace cantivo
