#include "app/OptionsPages.h"

#include "synthdb/SynthLookup.h"
#include "synthdb/Synthesizer.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <initializer_list>

namespace cantivo {

namespace {

constexpr const char* Startup = "StartupOptions";
constexpr const char* Playback = "PlaybackOptions";
constexpr const char* ClickSection = "ClickOptions";
constexpr const char* SequencerSection = "Sequencer";
constexpr const char* Display = "DisplayOptions";
constexpr const char* Record = "RecordOptions";
constexpr const char* Staff = "StaffView";
constexpr const char* Save = "SaveOptions";
constexpr const char* Lyric = "LyricView";
constexpr const char* FollowTap = "FollowTap";

constexpr int OutputSlots = 16;
constexpr uint32_t NoteOn = 0x90;
constexpr uint32_t ReassertBit = 1;
constexpr uint32_t LastVampBit = 2;

// The "EventFilter" bits of each event type, in the order of the page's check boxes.
constexpr std::array<uint32_t, 7> EventTypeBits{
    (1u << 8) | (1u << 9), 1u << 10, 1u << 11, 1u << 12, 1u << 13, 1u << 14, 1u << 15};
constexpr uint32_t EventTypeMask = 0xFF00;

std::optional<RangeRefusal> FirstRefusal(std::initializer_list<std::optional<RangeRefusal>> checks)
{
    for (const auto& check : checks)
        if (check)
            return check;
    return std::nullopt;
}

uint32_t PackNoteOn(int32_t channel, int32_t note, int32_t velocity)
{
    return (NoteOn | static_cast<uint32_t>(channel & 0x0F)) | static_cast<uint32_t>(note & 0x7F) << 8 |
           static_cast<uint32_t>(velocity & 0x7F) << 16;
}

std::string Hex(uint32_t number)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", number);
    return text;
}

// A stored click note-on: its note and velocity, each brought into 0 to 127, and whether the value
// was anything else than a plain note-on.
struct UnpackedClick {
    int32_t channel;
    int32_t note;
    int32_t velocity;
    bool adjusted;
};

UnpackedClick Unpack(uint32_t message)
{
    const int32_t note = static_cast<int32_t>((message >> 8) & 0xFF);
    const int32_t velocity = static_cast<int32_t>((message >> 16) & 0xFF);
    UnpackedClick click{static_cast<int32_t>(message & 0x0F), std::min(note, 127), std::min(velocity, 127), false};
    click.adjusted = (message & 0xF0) != NoteOn || (message >> 24) != 0 || note > 127 || velocity > 127;
    return click;
}

void ReadClick(OptionsReader& reader, const char* value, uint32_t fallback, int32_t& channel, int32_t& note,
               int32_t& velocity)
{
    const auto stored = static_cast<uint32_t>(reader.Int(ClickSection, value, static_cast<int32_t>(fallback)));
    const UnpackedClick click = Unpack(stored);
    channel = click.channel;
    note = click.note;
    velocity = click.velocity;
    if (click.adjusted)
        reader.Adjusted(ClickSection, value, Hex(stored), Hex(PackNoteOn(channel, note, velocity)));
}

} // namespace

std::optional<RangeRefusal> CheckField(const FieldRange& range, int32_t number)
{
    if (number >= range.low && number <= range.high)
        return std::nullopt;
    return RangeRefusal{range.label, "Please enter an integer between " + std::to_string(range.low) + " and " +
                                         std::to_string(range.high) + "."};
}

void COptionsStartup::Load(OptionsReader& reader)
{
    autoOpen = reader.Check(Startup, "AutoOpen", true);
    checkForUpdates = reader.Check(Startup, "CheckForUpdates", false);
}

void COptionsStartup::Apply(Profile& profile) const
{
    profile.WriteInt(Startup, "AutoOpen", autoOpen ? 1 : 0);
    profile.WriteInt(Startup, "CheckForUpdates", checkForUpdates ? 1 : 0);
}

std::vector<ClickPortEntry>
PlaybackChoices::PortEntries(const Profile& profile,
                             const std::function<std::optional<int32_t>(const std::string&)>& drumMask)
{
    std::vector<std::string> seen;
    std::vector<ClickPortEntry> entries;
    for (int slot = 0; slot < OutputSlots; ++slot) {
        const std::string name = profile.GetString("PortsToUse", "MIDIOUT" + std::to_string(slot), "");
        if (name.empty() || std::find(seen.begin(), seen.end(), name) != seen.end())
            continue;
        seen.push_back(name);
        const std::optional<int32_t> mask = drumMask(name);
        if (!mask)
            continue;
        for (int32_t channel = 0; channel < 16; ++channel)
            if (*mask == 0 || (*mask & (1 << channel)) != 0)
                entries.push_back({name + "/" + std::to_string(channel + 1), name, channel});
    }
    return entries;
}

PlaybackChoices PlaybackChoices::Read(const Profile& profile, SynthLookup& synths)
{
    PlaybackChoices choices;
    choices.ports = PortEntries(profile, [&synths](const std::string& name) -> std::optional<int32_t> {
        const PortBinding* binding = synths.Port(name);
        if (!binding)
            return std::nullopt;
        return binding->drums;
    });
    for (const ClickPortEntry& entry : choices.ports) {
        auto& sets = choices.drumSets[entry.portName];
        if (!sets.empty())
            continue;
        if (const Synthesizer* synth = synths.PortSynth(entry.portName))
            for (const DrumSet& set : synth->drumSets)
                sets.push_back({set.bank * 256 + set.program, PortDrumSetText(set.bank, set.program, set.name)});
    }
    return choices;
}

std::optional<ClickPortEntry> SplitClickPortEntry(const std::string& text)
{
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return std::nullopt;
    int32_t number = 0;
    const char* first = text.data() + slash + 1;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc{} || end != last || number < 1 || number > 16)
        return std::nullopt;
    return ClickPortEntry{text, text.substr(0, slash), number - 1};
}

void COptionsPlayback::Load(OptionsReader& reader, PlaybackChoices offered)
{
    choices = std::move(offered);
    const auto sources = static_cast<int32_t>(std::max<size_t>(choices.timerSources.size(), 1));
    timerSource = reader.Range(Playback, "TimerSource", 0, 0, sources - 1);
    timerResolution = reader.Range(Playback, "TimerResolution", 2, Resolution.low, Resolution.high);
    clickEnabled = reader.Check(ClickSection, "Enabled", true);
    leadMilliseconds = reader.Range(ClickSection, "Lead", 0, Lead.low, Lead.high);
    clickPort = reader.Text(ClickSection, "Port", "?");
    clickPatch = reader.Int(ClickSection, "Patch", 0);
    const ClickSettings defaults;
    int32_t otherChannel = 0;
    ReadClick(reader, "Click1", defaults.firstBeat, clickChannel, firstNote, firstVelocity);
    ReadClick(reader, "Click2", defaults.otherBeats, otherChannel, otherNote, otherVelocity);
    const auto options = static_cast<uint32_t>(reader.Int(SequencerSection, "Options", 2));
    reassert = (options & ReassertBit) != 0;
    lastVamp = (options & LastVampBit) != 0;
    otherOptionBits = options & ~(ReassertBit | LastVampBit);
}

std::optional<RangeRefusal> COptionsPlayback::Validate() const
{
    return FirstRefusal({CheckField(Resolution, timerResolution), CheckField(Lead, leadMilliseconds),
                         CheckField(Velocity, firstVelocity), CheckField(Velocity, otherVelocity)});
}

void COptionsPlayback::Apply(Profile& profile) const
{
    profile.WriteInt(Playback, "TimerSource", timerSource);
    profile.WriteInt(Playback, "TimerResolution", timerResolution);
    profile.WriteInt(ClickSection, "Enabled", clickEnabled ? 1 : 0);
    profile.WriteInt(ClickSection, "Lead", leadMilliseconds);
    profile.WriteString(ClickSection, "Port", clickPort);
    profile.WriteInt(ClickSection, "Patch", clickPatch);
    profile.WriteInt(ClickSection, "Click1", static_cast<int32_t>(FirstBeat()));
    profile.WriteInt(ClickSection, "Click2", static_cast<int32_t>(OtherBeats()));
    profile.WriteInt(SequencerSection, "Options", static_cast<int32_t>(SequencerOptions()));
}

int COptionsPlayback::PortIndex() const
{
    for (size_t i = 0; i < choices.ports.size(); ++i)
        if (choices.ports[i].portName == clickPort && choices.ports[i].channel == clickChannel)
            return static_cast<int>(i);
    return -1;
}

void COptionsPlayback::SelectPort(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= choices.ports.size())
        return;
    if (const auto split = SplitClickPortEntry(choices.ports[static_cast<size_t>(index)].text)) {
        clickPort = split->portName;
        clickChannel = split->channel;
    }
}

const std::vector<ClickDrumSet>& COptionsPlayback::DrumSets() const
{
    static const std::vector<ClickDrumSet> none;
    const auto found = choices.drumSets.find(clickPort);
    return found == choices.drumSets.end() ? none : found->second;
}

int COptionsPlayback::DrumSetIndex() const
{
    const auto& sets = DrumSets();
    for (size_t i = 0; i < sets.size(); ++i)
        if (sets[i].patch == clickPatch)
            return static_cast<int>(i);
    return -1;
}

void COptionsPlayback::SelectDrumSet(int index)
{
    const auto& sets = DrumSets();
    if (index >= 0 && static_cast<size_t>(index) < sets.size())
        clickPatch = sets[static_cast<size_t>(index)].patch;
}

uint32_t COptionsPlayback::FirstBeat() const
{
    return PackNoteOn(clickChannel, firstNote, firstVelocity);
}

uint32_t COptionsPlayback::OtherBeats() const
{
    return PackNoteOn(clickChannel, otherNote, otherVelocity);
}

uint32_t COptionsPlayback::SequencerOptions() const
{
    return otherOptionBits | (reassert ? ReassertBit : 0) | (lastVamp ? LastVampBit : 0);
}

ClickSettings COptionsPlayback::Click(bool whileRecording) const
{
    ClickSettings click;
    click.enabled = clickEnabled;
    click.whileRecording = whileRecording;
    click.portName = clickPort;
    click.patch = clickPatch;
    click.firstBeat = FirstBeat();
    click.otherBeats = OtherBeats();
    click.leadMilliseconds = leadMilliseconds;
    return click;
}

DisplayLive DisplayLive::Read(const Profile& profile)
{
    DisplayLive live;
    live.gradients = profile.GetInt(Display, "Gradients", 1) != 0;
    live.smoothScroll = profile.GetInt(Display, "SmoothScroll", 1) != 0;
    return live;
}

void COptionsDisplay::Apply(Profile& profile) const
{
    profile.WriteInt(Display, "Gradients", values.gradients ? 1 : 0);
    profile.WriteInt(Display, "SmoothScroll", values.smoothScroll ? 1 : 0);
}

std::vector<std::string> COptionsRecord::Durations()
{
    std::vector<std::string> texts{"As played", "Same as step size"};
    texts.insert(texts.end(), StepSizes.begin(), StepSizes.end());
    return texts;
}

void COptionsRecord::Load(OptionsReader& reader, const RecordLive& live)
{
    mode = reader.Range(Record, "Mode", 0, 0, static_cast<int32_t>(Modes.size()) - 1);
    stepSize = reader.Range(Record, "StepSize", 3, 0, static_cast<int32_t>(StepSizes.size()) - 1);
    stepDot = reader.Check(Record, "StepDot", false);
    stepDuration = reader.Range(Record, "StepDuration", 0, 0, static_cast<int32_t>(StepSizes.size()) + 1);
    stepDurationDot = reader.Check(Record, "StepDurDot", false);
    stepVelocity = reader.Range(Record, "StepVelocity", 0, Velocity.low, Velocity.high);
    punch = live;
    click = reader.Check(ClickSection, "Record", true);
    followTempo = reader.Check(Record, "FollowTempo", true);
    countIn = reader.Range(Record, "CountIn", 1, CountIn.low, CountIn.high);
    const auto filter = static_cast<uint32_t>(reader.Int(Record, "EventFilter", 0xDB00));
    for (size_t i = 0; i < EventTypeBits.size(); ++i)
        eventTypes[i] = (filter & EventTypeBits[i]) != 0;
    otherFilterBits = filter & ~EventTypeMask;
    // One check box stands for note-off and note-on together.
    if (const uint32_t notes = filter & EventTypeBits[0]; notes != 0 && notes != EventTypeBits[0])
        reader.Adjusted(Record, "EventFilter", std::to_string(filter), std::to_string(EventFilter()));
}

std::optional<RangeRefusal> COptionsRecord::Validate() const
{
    return FirstRefusal({CheckField(Velocity, stepVelocity), CheckField(CountIn, countIn)});
}

void COptionsRecord::Apply(Profile& profile) const
{
    profile.WriteInt(Record, "Mode", mode);
    profile.WriteInt(Record, "StepSize", stepSize);
    profile.WriteInt(Record, "StepDot", stepDot ? 1 : 0);
    profile.WriteInt(Record, "StepDuration", stepDuration);
    profile.WriteInt(Record, "StepDurDot", stepDurationDot ? 1 : 0);
    profile.WriteInt(Record, "StepVelocity", stepVelocity);
    profile.WriteInt(ClickSection, "Record", click ? 1 : 0);
    profile.WriteInt(Record, "FollowTempo", followTempo ? 1 : 0);
    profile.WriteInt(Record, "CountIn", countIn);
    profile.WriteInt(Record, "EventFilter", static_cast<int32_t>(EventFilter()));
}

uint32_t COptionsRecord::EventFilter() const
{
    uint32_t filter = otherFilterBits;
    for (size_t i = 0; i < EventTypeBits.size(); ++i)
        if (eventTypes[i])
            filter |= EventTypeBits[i];
    return filter;
}

void COptionsStaff::Load(OptionsReader& reader)
{
    resolution = reader.Range(Staff, "Resolution", 1, 0, static_cast<int32_t>(Resolutions.size()) - 1);
    fill = reader.Check(Staff, "Fill", true);
    trim = reader.Check(Staff, "Trim", true);
    printStaffSize = reader.Range("StaffOptions", "PrintStaffSize", 3, 0, static_cast<int32_t>(StaffSizes.size()) - 1);
}

void COptionsStaff::Apply(Profile& profile) const
{
    profile.WriteInt(Staff, "Resolution", resolution);
    profile.WriteInt(Staff, "Fill", fill ? 1 : 0);
    profile.WriteInt(Staff, "Trim", trim ? 1 : 0);
    profile.WriteInt("StaffOptions", "PrintStaffSize", printStaffSize);
}

std::vector<std::string> COptionsAudio::Formats()
{
    std::vector<std::string> texts;
    for (const char* rate : {"11.025 ", "22.05  ", "44.1   "})
        for (const char* channels : {"Mono,  ", "Stereo,"})
            for (const char* bits : {" 8-bit", "16-bit"})
                texts.push_back(std::string(rate) + "kHz, " + channels + bits);
    return texts;
}

void COptionsAudio::Load(OptionsReader& reader)
{
    sampling = reader.Range("AudioOptions", "SamplingDefault", 0, 0, static_cast<int32_t>(Formats().size()) - 1);
}

void COptionsAudio::Apply(Profile& profile) const
{
    profile.WriteInt("AudioOptions", "SamplingDefault", sampling);
}

void COptionsSave::Load(OptionsReader& reader, const std::string& documentsFolder)
{
    defPath = reader.Range(Save, "DefPath", 0, 0, static_cast<int32_t>(Locations.size()) - 1);
    path = reader.Text(Save, "Path", documentsFolder);
    backups = reader.Check(Save, "Backups", false);
    autoSave = reader.Check(Save, "AutoSave", false);
    autoSaveMinutes = reader.Range(Save, "AutoSaveMin", 10, AutoSaveMinutes.low, AutoSaveMinutes.high);
}

std::optional<RangeRefusal> COptionsSave::Validate() const
{
    return CheckField(AutoSaveMinutes, autoSaveMinutes);
}

void COptionsSave::Apply(Profile& profile) const
{
    profile.WriteInt(Save, "DefPath", defPath);
    if (defPath == 2)
        profile.WriteString(Save, "Path", path);
    profile.WriteInt(Save, "Backups", backups ? 1 : 0);
    profile.WriteInt(Save, "AutoSave", autoSave ? 1 : 0);
    profile.WriteInt(Save, "AutoSaveMin", autoSaveMinutes);
}

void COptionsSave::ChooseFolder(const std::string& folder)
{
    path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
}

void COptionsLyric::Load(OptionsReader& reader)
{
    fontName = reader.Text(Lyric, "FontName", "Times New Roman");
    // The height's sign is the font dialog's (negative: the character height), so only its size is bounded.
    const int32_t storedHeight = reader.Int(Lyric, "FontHeight", -24);
    const int32_t size =
        static_cast<int32_t>(std::clamp<int64_t>(std::abs(int64_t{storedHeight}), FontSize.low, FontSize.high));
    fontHeight = storedHeight < 0 ? -size : size;
    if (fontHeight != storedHeight)
        reader.Adjusted(Lyric, "FontHeight", std::to_string(storedHeight), std::to_string(fontHeight));
    fontWeight = reader.Range(Lyric, "FontWeight", 400, FontWeight.low, FontWeight.high);
    color = reader.Range(Lyric, "Color", 0, 0, WhiteColor);
    backColor = reader.Range(Lyric, "Backcolor", WhiteColor, 0, WhiteColor);
    highlightColor = reader.Range(Lyric, "Color2", 0, 0, WhiteColor);
    highlightBackColor = reader.Range(Lyric, "Backcolor2", 65535, 0, WhiteColor);
    center = reader.Check(Lyric, "Center", false);
    paginate = reader.Check(Lyric, "Paginate", false);
    graphic = reader.Check(Lyric, "Graphic", false);
    graphicPath = reader.Text(Lyric, "GfxPath", "");
    placement = reader.Range(Lyric, "Stretch", 0, 0, static_cast<int32_t>(Placements.size()) - 1);
}

void COptionsLyric::Apply(Profile& profile) const
{
    profile.WriteString(Lyric, "FontName", fontName);
    profile.WriteInt(Lyric, "FontHeight", fontHeight);
    profile.WriteInt(Lyric, "FontWeight", fontWeight);
    profile.WriteInt(Lyric, "Color", color);
    profile.WriteInt(Lyric, "Backcolor", backColor);
    profile.WriteInt(Lyric, "Color2", highlightColor);
    profile.WriteInt(Lyric, "Backcolor2", highlightBackColor);
    profile.WriteInt(Lyric, "Center", center ? 1 : 0);
    profile.WriteInt(Lyric, "Paginate", paginate ? 1 : 0);
    profile.WriteInt(Lyric, "Graphic", graphic ? 1 : 0);
    profile.WriteString(Lyric, "GfxPath", graphicPath);
    profile.WriteInt(Lyric, "Stretch", placement);
}

void COptionsConductor::Load(OptionsReader& reader)
{
    FollowTapSettings& v = values;
    const FollowTapSettings defaults = FollowTapSettings::PageDefaults();
    v.enabled = reader.Check(FollowTap, "Enabled", defaults.enabled);
    v.window = reader.Range(FollowTap, "Window", defaults.window, Window.low, Window.high);
    v.jumpForward = reader.Check(FollowTap, "EnableJumpF", defaults.jumpForward);
    v.jumpBackward = reader.Check(FollowTap, "EnableJumpB", defaults.jumpBackward);
    v.jumpStrength = reader.Range(FollowTap, "JumpStrength", defaults.jumpStrength, Strength.low, Strength.high);
    v.tempoModulation = reader.Check(FollowTap, "EnableTempoMod", defaults.tempoModulation);
    v.modulationStrength =
        reader.Range(FollowTap, "ModStrength", defaults.modulationStrength, Strength.low, Strength.high);
    v.useAverage = reader.Check(FollowTap, "UseAverage", defaults.useAverage);
    v.averageStrength = reader.Range(FollowTap, "AveStrength", defaults.averageStrength, Strength.low, Strength.high);
    v.returnToNormal = reader.Check(FollowTap, "EnableTempoNorm", defaults.returnToNormal);
    v.returnRate = reader.Range(FollowTap, "ReturnRate", defaults.returnRate, Rate.low, Rate.high);
    // Not on the page, but written with the rest: it keeps what is stored.
    v.follower = FollowTapSettings::Read(reader.Store()).follower;
}

std::optional<RangeRefusal> COptionsConductor::Validate() const
{
    return FirstRefusal({CheckField(Window, values.window), CheckField(Strength, values.jumpStrength),
                         CheckField(Strength, values.modulationStrength), CheckField(Strength, values.averageStrength),
                         CheckField(Rate, values.returnRate)});
}

void COptionsSet::Load(OptionsReader& reader)
{
    autoAdvance = reader.Range(Playback, "AutoAdvance", 1, 0, 2);
    // The list shows whole seconds, rounded down; OK stores the shown choice.
    const int32_t wait = reader.Int(Playback, "AdvanceWait", 1000);
    delay = std::clamp(wait / 1000, 0, static_cast<int32_t>(Delays.size()) - 1);
    if (delay * 1000 != wait)
        reader.Adjusted(Playback, "AdvanceWait", std::to_string(wait), std::to_string(delay * 1000));
    resetTempo = reader.Check(Playback, "AdvanceResetTempo", true);
    reset = reader.Range(Playback, "AdvanceReset", 2, 0, 2);
}

void COptionsSet::Apply(Profile& profile) const
{
    profile.WriteInt(Playback, "AutoAdvance", autoAdvance);
    profile.WriteInt(Playback, "AdvanceWait", delay * 1000);
    profile.WriteInt(Playback, "AdvanceResetTempo", resetTempo ? 1 : 0);
    profile.WriteInt(Playback, "AdvanceReset", reset);
}

void COptionsMacros::Load(OptionsReader& reader)
{
    for (size_t i = 0; i < Count; ++i) {
        const std::string name = std::to_string(i + 1);
        const std::string stored = reader.Text("Macros", name, "");
        texts[i] = FirstCharacters(stored, MaxLength);
        if (texts[i] != stored)
            reader.Adjusted("Macros", name, stored, texts[i]);
    }
}

void COptionsMacros::Apply(Profile& profile) const
{
    for (size_t i = 0; i < Count; ++i)
        profile.WriteString("Macros", std::to_string(i + 1), texts[i]);
}

} // namespace cantivo
