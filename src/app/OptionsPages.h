#pragma once

#include "app/OptionsStore.h"
#include "playback/Click.h"
#include "playback/TapFollower.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

class SynthLookup;

// A number field's bounds, for the refusal of a value typed outside them.
struct FieldRange {
    const char* label;
    int32_t low;
    int32_t high;
};

// The refusal of a number typed outside its range; the page stays open.
struct RangeRefusal {
    std::string label;
    std::string message;
};

// Checks `number` against `range`; nullopt when it is inside.
std::optional<RangeRefusal> CheckField(const FieldRange& range, int32_t number);

// Every page: the tab title, the help topic (empty for none), Load from the store (and what the program
// supplies), Validate the number fields and Apply (OK) the values to the store.

class COptionsStartup {
  public:
    static constexpr const char* Title = "Startup";
    static constexpr const char* Caption = "Tasks";
    static constexpr const char* Help = "::/StartOpts.htm";
    static constexpr const char* AutoOpenLabel = "Open the most recent set or song";
    static constexpr const char* CheckForUpdatesLabel = "Use the Internet to check for software updates";

    bool autoOpen = true;
    bool checkForUpdates = false;

    void Load(OptionsReader& reader);
    std::optional<RangeRefusal> Validate() const { return std::nullopt; }
    void Apply(Profile& profile) const;
};

// One entry of the click's "Port/chan:" list.
struct ClickPortEntry {
    std::string text; // "%s/%d"
    std::string portName;
    int32_t channel = 0; // 0 to 15
    bool operator==(const ClickPortEntry&) const = default;
};

struct ClickDrumSet {
    int32_t patch = 0; // bank × 256 + program, as the click stores it
    std::string text;  // "%d/%d: %s"
    bool operator==(const ClickDrumSet&) const = default;
};

// What the playback page lists, from the engine and the synth database.
struct PlaybackChoices {
    std::vector<std::string> timerSources{"Internal Multimedia Timer"};
    int32_t timerMinimum = 1; // the timer's supported period, shown only
    int32_t timerMaximum = 100;
    std::vector<ClickPortEntry> ports;
    std::map<std::string, std::vector<ClickDrumSet>> drumSets; // by port name

    // The click's port entries for the output port names of "PortsToUse" "MIDIOUT0" to "MIDIOUT15":
    // each distinct non-empty name that `drumMask` knows (it has a "portconfig" row) lists its drum
    // channels, or all sixteen when its mask is 0.
    static std::vector<ClickPortEntry>
    PortEntries(const Profile& profile, const std::function<std::optional<int32_t>(const std::string&)>& drumMask);
    // The port entries and each listed port's drum sets from the synth database.
    static PlaybackChoices Read(const Profile& profile, SynthLookup& synths);
};

// Splits a "Port/chan:" entry at its last '/': the port name and the channel (0 to 15).
std::optional<ClickPortEntry> SplitClickPortEntry(const std::string& text);

class COptionsPlayback {
  public:
    static constexpr const char* Title = "Playback";
    static constexpr const char* Help = "::/PlayOpts.htm";
    static constexpr const char* SourceLabel = "Source:";
    static constexpr const char* ResolutionUnit = "ms";
    static constexpr const char* MinimumLabel = "min:";
    static constexpr const char* MaximumLabel = "max:";
    static constexpr const char* ClickEnabledLabel = "Enabled";
    static constexpr const char* LeadLabel = "Lead time (ms):";
    static constexpr const char* PortLabel = "Port/chan:";
    static constexpr const char* DrumSetLabel = "Drumset:";
    static constexpr const char* NotesLabel = "Notes (1st beat; 2: others)";
    static constexpr const char* VelocityLabel = "Velocity";
    static constexpr const char* ReassertLabel = "Re-assert patches and other controllers when play begins";
    static constexpr const char* LastVampLabel = "Interpret play/cue command as last vamp";
    static constexpr FieldRange Resolution{"ms", 1, 100};
    static constexpr FieldRange Lead{"Lead time (ms):", 0, 500};
    static constexpr FieldRange Velocity{"Velocity", 0, 127};

    PlaybackChoices choices;
    int32_t timerSource = 0;
    int32_t timerResolution = 2;
    bool clickEnabled = true;
    int32_t leadMilliseconds = 0;
    std::string clickPort = "?"; // the bare port name
    int32_t clickChannel = 9;
    int32_t clickPatch = 0;
    int32_t firstNote = 37;
    int32_t firstVelocity = 127;
    int32_t otherNote = 37;
    int32_t otherVelocity = 100;
    bool reassert = false;        // "Sequencer" "Options" bit 0
    bool lastVamp = true;         // bit 1
    uint32_t otherOptionBits = 0; // bits of "Options" this page does not show, kept as they are

    void Load(OptionsReader& reader, PlaybackChoices offered);
    std::optional<RangeRefusal> Validate() const;
    void Apply(Profile& profile) const;

    // The "Port/chan:" entry of the click's port and channel; -1 when the list does not have it.
    int PortIndex() const;
    // Choosing an entry sets the port name and the channel.
    void SelectPort(int index);
    const std::vector<ClickDrumSet>& DrumSets() const;
    // The "Drumset:" entry of the click patch; -1 when the port's list does not have it.
    int DrumSetIndex() const;
    void SelectDrumSet(int index);

    uint32_t FirstBeat() const;
    uint32_t OtherBeats() const;
    uint32_t SequencerOptions() const;
    // The click as the sequencer takes it (Sequencer::SetClick); "Record" comes from the record page.
    ClickSettings Click(bool whileRecording) const;
};

// The display values the page starts from: the live ones, not the store's.
struct DisplayLive {
    bool gradients = true;
    bool smoothScroll = true;
    bool operator==(const DisplayLive&) const = default;
    // What the program reads at start-up ("DisplayOptions"), before any page changed them.
    static DisplayLive Read(const Profile& profile);
};

class COptionsDisplay {
  public:
    static constexpr const char* Title = "Display";
    static constexpr const char* Caption = "Performance";
    static constexpr const char* Help = "::/DisplayOpts.htm";
    static constexpr const char* GradientsLabel = "Smooth gradient background fills";
    static constexpr const char* SmoothScrollLabel = "Smooth scrolling of current playback position";

    DisplayLive values;

    void Load(const DisplayLive& live) { values = live; }
    std::optional<RangeRefusal> Validate() const { return std::nullopt; }
    void Apply(Profile& profile) const;
};

// The punch positions the record page edits; they live in the recorder, not in the store.
struct RecordLive {
    int32_t punchIn = 0; // ticks
    int32_t punchOut = 0;
    bool operator==(const RecordLive&) const = default;
};

class COptionsRecord {
  public:
    static constexpr const char* Title = "Record";
    static constexpr const char* Help = "::/Record.htm#OPTIONS";
    static constexpr std::array<const char*, 3> Modes{"Normal", "Step", "Punch"};
    static constexpr std::array<const char*, 11> StepSizes{
        "Whole",          "Half",      "Half triplet",      "Quarter",       "Quarter triplet",      "Eighth",
        "Eighth triplet", "Sixteenth", "Sixteenth triplet", "Thirty-second", "Thirty-second triplet"};
    static constexpr const char* StepSizeLabel = "Step size:";
    static constexpr const char* DottedLabel = "Dotted";
    static constexpr const char* DurationLabel = "Duration:";
    static constexpr const char* VelocityLabel = "Velocity:";
    static constexpr const char* VelocityNote = "(0 = as played)";
    static constexpr const char* PunchInLabel = "In at:";
    static constexpr const char* PunchOutLabel = "Out at:";
    static constexpr const char* ClickLabel = "Click track enabled";
    static constexpr const char* FollowTempoLabel = "Follow tempo map";
    static constexpr const char* CountInLabel = "Count-in (measures)";
    static constexpr const char* EventTypesLabel = "Event types to record";
    static constexpr std::array<const char*, 7> EventTypes{
        "Notes", "Aftertouch", "Controllers", "Patch changes", "Channel pressure", "Pitch", "System exclusive"};
    static constexpr FieldRange Velocity{"Velocity:", 0, 127};
    static constexpr FieldRange CountIn{"Count-in (measures)", 0, 8};

    // "As played", "Same as step size", then the step sizes.
    static std::vector<std::string> Durations();

    int32_t mode = 0;
    int32_t stepSize = 3;
    bool stepDot = false;
    int32_t stepDuration = 0;
    bool stepDurationDot = false;
    int32_t stepVelocity = 0;
    RecordLive punch;
    bool click = true;
    bool followTempo = true;
    int32_t countIn = 1;
    std::array<bool, 7> eventTypes{true, false, true, true, false, true, true}; // in the order of EventTypes
    uint32_t otherFilterBits = 0; // bits of "EventFilter" outside the seven types, kept as they are

    void Load(OptionsReader& reader, const RecordLive& live);
    std::optional<RangeRefusal> Validate() const;
    void Apply(Profile& profile) const;
    uint32_t EventFilter() const;
};

class COptionsStaff {
  public:
    static constexpr const char* Title = "Staff";
    static constexpr const char* Help = "::/StaffOpts.htm";
    static constexpr const char* ResolutionLabel = "Resolution (smallest notes):";
    static constexpr std::array<const char*, 3> Resolutions{"8th", "16th", "32nd"};
    static constexpr const char* FillLabel = "Fill -- extend note durations to next beat boundaries to avoid rests";
    static constexpr const char* TrimLabel = "Trim -- shorten note durations to avoid overlapping notes";
    static constexpr const char* StaffSizeLabel = "Printed staff size:";
    static constexpr std::array<const char*, 9> StaffSizes{"Commercial",     "Giant",   "English",
                                                           "Regular/Common", "Peter",   "Large middle",
                                                           "Small middle",   "Cadenza", "Pearl"};

    int32_t resolution = 1;
    bool fill = true;
    bool trim = true;
    int32_t printStaffSize = 3; // the open staff view takes it on OK

    void Load(OptionsReader& reader);
    std::optional<RangeRefusal> Validate() const { return std::nullopt; }
    void Apply(Profile& profile) const;
};

class COptionsAudio {
  public:
    static constexpr const char* Title = "Audio";
    static constexpr const char* Caption = "Defaults";
    static constexpr const char* Help = "";
    static constexpr const char* SamplingLabel = "Sampling rate, channels, size:";

    // The twelve formats: 11.025, 22.05 and 44.1 kHz, each mono and stereo, each 8-bit and 16-bit.
    static std::vector<std::string> Formats();

    int32_t sampling = 0;

    void Load(OptionsReader& reader);
    std::optional<RangeRefusal> Validate() const { return std::nullopt; }
    void Apply(Profile& profile) const;
};

class COptionsSave {
  public:
    static constexpr const char* Title = "Save";
    static constexpr const char* Help = "::/SaveOpts.htm";
    static constexpr const char* NewFilesLabel = "New sets and stand-alone songs";
    static constexpr std::array<const char*, 3> Locations{"Default to My Documents folder",
                                                          "Default to the most recently used folder", "Default to:"};
    static constexpr const char* ChangeLocationLabel = "Change location...";
    static constexpr const char* BackupsLabel = "Maintain backup (.bak) files for songs";
    static constexpr const char* AutoSaveLabel = "Save AutoRecover info every";
    static constexpr const char* AutoSaveUnit = "minutes";
    static constexpr FieldRange AutoSaveMinutes{"minutes", 1, 180};

    int32_t defPath = 0;
    std::string path; // the fixed folder, written only for "Default to:"
    bool backups = false;
    bool autoSave = false;
    int32_t autoSaveMinutes = 10;

    // `documentsFolder` is what "Path" reads as when it was never stored.
    void Load(OptionsReader& reader, const std::string& documentsFolder);
    std::optional<RangeRefusal> Validate() const;
    void Apply(Profile& profile) const;
    // The folder browser's choice, with a trailing separator.
    void ChooseFolder(const std::string& folder);
    // After OK the one-minute autosave timer runs only while both boxes are checked.
    bool AutosaveTimerOn() const { return backups && autoSave; }
};

class COptionsLyric {
  public:
    static constexpr const char* Title = "Lyrics";
    static constexpr const char* Help = "::/LyricOpts.htm";
    static constexpr const char* FontLabel = "Font...";
    static constexpr const char* ColorLabel = "Color...";
    static constexpr const char* BackLabel = "Back...";
    static constexpr const char* HighlightLabel = "Highlight:";
    static constexpr const char* CenterLabel = "Center text";
    static constexpr const char* PaginateLabel = "Automatic pagination";
    static constexpr const char* GraphicLabel = "Display background graphic";
    static constexpr const char* GraphicBrowseLabel = "...";
    static constexpr const char* GraphicDialogTitle = "Set lyric background...";
    static constexpr const char* GraphicFilter = "Bitmap files (*.bmp)|*.bmp||";
    static constexpr std::array<const char*, 3> Placements{"Tile", "Center", "Stretch"};
    static constexpr int32_t WhiteColor = 16777215; // also the largest colour: 0x00BBGGRR
    // A font the lyric view can draw and a singer can read: 4 to 400 pixels, Thin (100) to Black (900).
    static constexpr FieldRange FontSize{"Font height", 4, 400};
    static constexpr FieldRange FontWeight{"Font weight", 100, 900};

    std::string fontName = "Times New Roman";
    int32_t fontHeight = -24;
    int32_t fontWeight = 400;
    int32_t color = 0;
    int32_t backColor = WhiteColor;
    int32_t highlightColor = 0;
    int32_t highlightBackColor = 65535;
    bool center = false;
    bool paginate = false;
    bool graphic = false;
    std::string graphicPath;
    int32_t placement = 0;

    void Load(OptionsReader& reader);
    std::optional<RangeRefusal> Validate() const { return std::nullopt; }
    void Apply(Profile& profile) const;
};

class COptionsConductor {
  public:
    static constexpr const char* Title = "Conductor";
    static constexpr const char* Caption = "Follow tap";
    static constexpr const char* Help = "::/ConductOpts.htm";
    static constexpr const char* EnabledLabel = "Enable beat proximity sense";
    static constexpr const char* WindowLabel = "Window:";
    static constexpr const char* WindowUnit = "% beat";
    static constexpr const char* JumpForwardLabel = "Jump forward";
    static constexpr const char* JumpBackwardLabel = "Jump backward";
    static constexpr const char* StrengthLabel = "Strength:";
    static constexpr const char* JumpUnit = "% dist";
    static constexpr const char* TempoModLabel = "Modify tempo multiplier";
    static constexpr const char* PercentUnit = "%";
    static constexpr const char* AverageLabel = "Modify tempo with 1.5 sec tap average";
    static constexpr const char* ReturnLabel = "Return to normal tempo";
    static constexpr const char* RateLabel = "Rate:";
    static constexpr const char* RateUnit = "%/sec";
    static constexpr int32_t SliderTick = 5;
    static constexpr FieldRange Window{"Window:", 1, 50};
    static constexpr FieldRange Strength{"Strength:", 1, 100};
    static constexpr FieldRange Rate{"Rate:", 1, 100};

    FollowTapSettings values = FollowTapSettings::PageDefaults();

    void Load(OptionsReader& reader);
    std::optional<RangeRefusal> Validate() const;
    void Apply(Profile& profile) const { values.Write(profile); }

    bool WindowEnabled() const { return values.enabled; }
    bool JumpDirectionsEnabled() const { return values.enabled; }
    bool TempoModEnabled() const { return values.enabled; }
    bool JumpStrengthEnabled() const { return values.enabled && (values.jumpForward || values.jumpBackward); }
    bool ModStrengthEnabled() const { return values.enabled && values.tempoModulation; }
    // What the conductor works with after OK (the sequencer derives it from `values`).
    FollowEffective Live() const { return FollowEffective::From(values); }
};

class COptionsSet {
  public:
    static constexpr const char* Title = "Set";
    static constexpr const char* Help = "::/SetOpts.htm";
    static constexpr const char* AdvanceLabel = "Auto-advance";
    static constexpr const char* ModeLabel = "Mode:";
    static constexpr std::array<const char*, 3> Modes{"Do not advance to next song", "Advance to next song and stop",
                                                      "Advance to next song and begin play"};
    static constexpr const char* DelayLabel = "Delay:";
    static constexpr std::array<const char*, 3> Delays{"Do not wait", "Wait 1 second", "Wait 2 seconds"};
    static constexpr const char* ResetTempoLabel = "Reset tempo multiplier";
    static constexpr const char* ChangingLabel = "When changing songs";
    static constexpr const char* ResetLabel = "Reset:";
    static constexpr std::array<const char*, 3> Resets{"Do not reset controllers", "Reset used controllers to defaults",
                                                       "Send MIDI Reset (F10) commands"};

    int32_t autoAdvance = 1;
    int32_t delay = 1; // whole seconds
    bool resetTempo = true;
    int32_t reset = 2;

    void Load(OptionsReader& reader);
    std::optional<RangeRefusal> Validate() const { return std::nullopt; }
    void Apply(Profile& profile) const;
    bool DelayEnabled() const { return autoAdvance != 0; }
    bool ResetTempoEnabled() const { return autoAdvance != 0; }
};

class COptionsMacros {
  public:
    static constexpr const char* Title = "Macros";
    static constexpr const char* Help = "";
    static constexpr size_t Count = 9;
    static constexpr size_t MaxLength = 80; // characters

    // "%1" to "%9".
    static std::string Label(size_t index) { return "%" + std::to_string(index + 1); }

    std::array<std::string, Count> texts;

    void Load(OptionsReader& reader);
    std::optional<RangeRefusal> Validate() const { return std::nullopt; }
    void Apply(Profile& profile) const;
    // What the field keeps of typed text: its first 80 characters.
    void SetText(size_t index, const std::string& text) { texts.at(index) = FirstCharacters(text, MaxLength); }
};

} // namespace cantivo
