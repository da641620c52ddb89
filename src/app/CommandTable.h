#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cantivo {

// Every user action is one of these numbers; menus, keys, control maps and scripts all end in the same
// handler. The values are stored in accelerator maps and map files, so they never change.
enum class CommandId : uint16_t {
    Go = 32789, // short name "Enter to open song in set view"
    NewSongOrSet = 57600,
    Open = 57601,
    ImportSongs = 32771,
    ImportAudioClips = 32923,
    Save = 57603,
    SaveAll = 32817,
    SendSongAsAttachment = 32939,
    CloseAll = 32928,
    RevertToPreviousSong = 32988,
    Print = 57607,
    PrintPreview = 57609,
    PrinterSetup = 57606,
    Exit = 57665,
    Undo = 57643,
    Redo = 57644,
    Copy = 57634,
    Cut = 57635,
    Paste = 57637,
    Delete = 32787,
    SelectTime = 32839,
    SelectAll = 57642,
    Move = 32912,
    Duration = 32911,
    Quantize = 32913,
    Velocities = 32914,
    Transpose = 32910,
    MidiEffects = 32978,
    AudioEffects = 32932,
    SplitAudioClips = 32934,
    AudioMixResample = 32933,
    ApplyTempoRatio = 32952,
    ApplyTrackOffsets = 32951,
    ApplyAlignmentTrack = 32959,
    Properties = 32788,
    ViewClipsAndCues = 32833,
    ViewEvents = 32834,
    ViewStaff = 32835,
    ViewPianoRoll = 32874,
    ViewLyrics = 32941,
    ViewAudio = 32942,
    ViewTempos = 32842,
    ViewRealtimeSliders = 32961,
    ViewModWheel = 32990,
    ViewExpression = 32991,
    ViewChannelPressure = 32846,
    ViewPitch = 32843,
    ViewOtherController = 32873,
    ViewMeterKey = 32995,
    ViewSetTimes = 32996,
    PowerSpectrum = 32935,
    ViewMidiBeat = 32938,
    BouncingBall = 32944,
    InsertCue = 32773,
    InsertTime = 32837,
    InsertEvent = 32836,
    InsertTrack = 32832,
    InsertControllers = 32875,
    InsertKeyChange = 32829,
    InsertMeterChange = 32830,
    InsertMeasureNumbers = 32784,
    InsertTempo = 32785,
    InsertTempoSeries = 32786,
    Play = 32775,
    PauseUnpause = 32878,
    Record = 32840,
    Pause = 32806,
    Stop = 32776,
    Solo = 32815,
    UnSolo = 32816,
    RepeatMeasure = 32812,
    SkipNextMeasure = 32813,
    LastVamp = 32791,
    GotoBeginning = 32781,
    GotoEnd = 32782,
    GotoPreviousCue = 32779,
    GotoNextCue = 32780,
    GotoPosition = 32922,
    PreviousMeasure = 32777,
    NextMeasure = 32778,
    PreviousNote = 32799,
    NextNote = 32800,
    AdvanceNo = 33000,
    AdvanceWait = 33001,
    AdvancePlay = 33002,
    TempoNormal = 32808,
    TempoSlower = 32809,
    TempoFaster = 32810,
    VolumeFull = 32979,
    VolumeDown = 32980,
    VolumeUp = 32981,
    ResetMidi = 32811,
    FreeStuckNotes = 32794,
    SetupPorts = 32876,
    SetupSynths = 32888,
    SetupSoundfonts = 32992,
    Options = 32774,
    Synchronization = 32920,
    ExternalControl = 32877,
    KeyboardAccelerators = 32994,
    Help = 57670,
    ContextHelp = 57669,
    About = 57664,
    HelpContents = 32879,
    HelpSearch = 32880,
    TipOfTheDay = 32770,
    WebSite = 32882,
    CheckForUpdates = 32984,
    MenuFile = 61467,
    MenuEdit = 61468,
    MenuView = 61469,
    MenuInsert = 61470,
    MenuSequencer = 61471,
    MenuAdjust = 61472,
    MenuSetup = 61473,
    MenuHelp = 61474,

    // Not in the list of bindable functions (no key can be bound to them), but control maps and
    // scripts issue them. Numbers chosen after the "Advance:" group.
    NextSong = 33003,
    PreviousSong = 33004,
};

struct CommandInfo {
    uint16_t id;
    std::string_view prompt;    // the status-bar text
    std::string_view shortName; // tooltips and lists of functions; may be empty
    bool bindable;              // offered in the accelerator editor's "Function" list
};

constexpr uint16_t ToNumber(CommandId id)
{
    return static_cast<uint16_t>(id);
}

// The whole vocabulary: the bindable functions first, in the order of the "Function" list, then the
// others.
std::span<const CommandInfo> AllCommands();
// The bindable functions, in the order of the "Function" list.
std::span<const CommandInfo> BindableCommands();

const CommandInfo* FindCommand(uint16_t id);
inline const CommandInfo* FindCommand(CommandId id)
{
    return FindCommand(ToNumber(id));
}
// An exact match wins; otherwise a match that ignores ASCII case, so "tempo faster" also works.
const CommandInfo* FindCommandByShortName(std::string_view shortName);

// The text resource: prompt + "\n" + short name; empty for an unknown number.
std::string CommandText(uint16_t id);
// The name in lists of functions: the short name, or the number ("%d") when there is none (also for
// numbers the table does not know, as a stored map may hold).
std::string FunctionName(uint16_t id);

} // namespace cantivo
