#include "app/CommandTable.h"

#include <algorithm>
#include <array>

namespace cantivo {
namespace {

constexpr CommandInfo Bindable(CommandId id, std::string_view prompt, std::string_view shortName)
{
    return {ToNumber(id), prompt, shortName, true};
}

constexpr CommandInfo Unbindable(CommandId id, std::string_view prompt, std::string_view shortName)
{
    return {ToNumber(id), prompt, shortName, false};
}

using C = CommandId;

constexpr size_t kBindableCount = 116;

constexpr std::array kCommands = {
    Bindable(C::Go, "Go", "Enter to open song in set view"),
    Bindable(C::NewSongOrSet, "Create a new song or Cantivo set", "New song or Cantivo set"),
    Bindable(C::Open, "Open an existing set or song", "Open"),
    Bindable(C::ImportSongs, "Add songs from files to the current set", "Import songs..."),
    Bindable(C::ImportAudioClips, "Import audio files as clips into the current song", "Import audio clips"),
    Bindable(C::Save, "Save the current song", "Save"),
    Bindable(C::SaveAll, "Save every modified song of the set, then the set", "Save ALL"),
    Bindable(C::SendSongAsAttachment, "Send the current song as an e-mail attachment", "Send song as attachment"),
    Bindable(C::CloseAll, "Close the set and all of its songs", "Close all"),
    Bindable(C::RevertToPreviousSong,
             "Toggle between current song and the next most recently used song within the current set",
             "Revert to previous song"),
    Bindable(C::Print, "Print the current view", "Print"),
    Bindable(C::PrintPreview, "Show how the current view will look when printed", "Print Preview"),
    Bindable(C::PrinterSetup, "Choose the printer and its options", "Printer setup"),
    Bindable(C::Exit, "Quit the program", "Exit"),
    Bindable(C::Undo, "Undo the last action", "Undo"),
    Bindable(C::Redo, "Redo the previously undone action", "Redo"),
    Bindable(C::Copy, "Copy the selection to the clipboard", "Copy"),
    Bindable(C::Cut, "Move the selection to the clipboard", "Cut"),
    Bindable(C::Paste, "Insert the clipboard's contents", "Paste"),
    Bindable(C::Delete, "Remove selected items", "Delete"),
    Bindable(C::SelectTime, "Select a range of time in the current song", "Select time"),
    Bindable(C::SelectAll, "Select everything in the current view", "Select all"),
    Bindable(C::Move, "Move the selected events in time", "Move"),
    Bindable(C::Duration, "Change the durations of the selected notes", "Duration"),
    Bindable(C::Quantize, "Align the selected events to a time grid", "Quantize"),
    Bindable(C::Velocities, "Change the velocities of the selected notes", "Velocities"),
    Bindable(C::Transpose, "Transpose the selected notes", "Transpose"),
    Bindable(C::MidiEffects, "Apply MIDI effects to the selected events", "MIDI effects..."),
    Bindable(C::AudioEffects, "Apply audio effects to the selected audio clips", "Audio effects..."),
    Bindable(C::SplitAudioClips, "Split the selected audio clips at the current position", "Split audio clips"),
    Bindable(C::AudioMixResample, "Mix or resample the selected audio clips", "Audio mix/resample"),
    Bindable(C::ApplyTempoRatio, "Make the current tempo multiplier part of the song's tempo map", "Apply tempo ratio"),
    Bindable(C::ApplyTrackOffsets, "Apply the tracks' key, velocity and time offsets to their events",
             "Apply track offsets"),
    Bindable(C::ApplyAlignmentTrack, "Rebuild the tempo map from the alignment track", "Apply alignment track"),
    Bindable(C::Properties, "Show the properties of the selected item", "Properties"),
    Bindable(C::ViewClipsAndCues, "Open the clips and cues view of the current song", "View clips and cues"),
    Bindable(C::ViewEvents, "Open the event list of the current song", "View events"),
    Bindable(C::ViewStaff, "Open the staff view of the current song", "View staff"),
    Bindable(C::ViewPianoRoll, "Open the piano roll of the current song", "View piano roll"),
    Bindable(C::ViewLyrics, "Open the lyric view of the current song", "View lyrics"),
    Bindable(C::ViewAudio, "Open the audio view of the current song", "View audio"),
    Bindable(C::ViewTempos, "Open the tempo view of the current song", "View tempos"),
    Bindable(C::ViewRealtimeSliders, "Open the real-time slider view", "View realtime sliders"),
    Bindable(C::ViewModWheel, "Show the modulation wheel controller", "View mod wheel"),
    Bindable(C::ViewExpression, "Show the expression controller", "View expression"),
    Bindable(C::ViewChannelPressure, "Show channel pressure", "View channel pressure"),
    Bindable(C::ViewPitch, "Show pitch bend", "View pitch"),
    Bindable(C::ViewOtherController, "Show another controller of your choice", "View other controller"),
    Bindable(C::ViewMeterKey, "Display the MIDI meter and key using staff notation", "View meter/key"),
    Bindable(C::ViewSetTimes, "Display the time elapsed and remaining in the current set", "View set times"),
    Bindable(C::PowerSpectrum, "Show the power spectrum of the audio output", "Power spectrum"),
    Bindable(C::ViewMidiBeat, "Show the beat of the MIDI input", "View MIDI beat"),
    Bindable(C::BouncingBall, "Show the beat as a bouncing ball", "Bouncing ball"),
    Bindable(C::InsertCue, "Insert a cue at the current position", "Insert cue"),
    Bindable(C::InsertTime, "Insert empty time at the current position", "Insert time"),
    Bindable(C::InsertEvent, "Insert an event at the current position", "Insert event"),
    Bindable(C::InsertTrack, "Insert a new track", "Insert track"),
    Bindable(C::InsertControllers, "Insert a series of controller values", "Insert controllers"),
    Bindable(C::InsertKeyChange, "Insert a key signature change", "Insert key change"),
    Bindable(C::InsertMeterChange, "Insert a meter change", "Insert meter change"),
    Bindable(C::InsertMeasureNumbers, "Insert measure number markers", "Insert measure #s"),
    Bindable(C::InsertTempo, "Insert a tempo change", "Insert tempo"),
    Bindable(C::InsertTempoSeries, "Insert a series of tempo changes", "Insert series of tempos"),
    Bindable(C::Play, "Play/Tap (Cue)", "Play"),
    Bindable(C::PauseUnpause, "Pause, or resume playback when paused", "Pause/un-pause"),
    Bindable(C::Record, "Play and record", "Record"),
    Bindable(C::Pause, "Pause and hold notes", "Pause"),
    Bindable(C::Stop, "Stop and silence notes", "Stop"),
    Bindable(C::Solo, "Temporarily play only the selected track(s)", "Solo"),
    Bindable(C::UnSolo, "Undo all Solo command(s)", "Un-solo"),
    Bindable(C::RepeatMeasure, "Causes the current measure to re-start one time when the end of the measure is reached",
             "Repeat measure"),
    Bindable(C::SkipNextMeasure, "Causes the following measure to be jumped over", "Skip next measure"),
    Bindable(C::LastVamp, "Signals that the song should no longer vamp", "Last vamp"),
    Bindable(C::GotoBeginning, "Move to the beginning of the song", "Goto beginning"),
    Bindable(C::GotoEnd, "Move to the end of the song", "Goto end"),
    Bindable(C::GotoPreviousCue, "Move to the previous cue", "Goto previous cue"),
    Bindable(C::GotoNextCue, "Move to the next cue", "Goto next cue"),
    Bindable(C::GotoPosition, "Move to a position you type", "Goto position"),
    Bindable(C::PreviousMeasure, "Move back one measure", "Previous measure"),
    Bindable(C::NextMeasure, "Move forward one measure", "Next measure"),
    Bindable(C::PreviousNote, "Move back to the previous note", "Previous note"),
    Bindable(C::NextNote, "Move forward to the next note", "Next note"),
    Bindable(C::AdvanceNo, "Stop at the end of the song; do not advance", "Advance: no"),
    Bindable(C::AdvanceWait, "Advance to the next song; then wait", "Advance: wait"),
    Bindable(C::AdvancePlay, "Advance to the next song; then immediately begin playback", "Advance: play"),
    Bindable(C::TempoNormal, "Set the tempo multiplier to 100%", "Tempo normal"),
    Bindable(C::TempoSlower, "Lower the tempo multiplier by 1%", "Tempo slower"),
    Bindable(C::TempoFaster, "Raise the tempo multiplier by 1%", "Tempo faster"),
    Bindable(C::VolumeFull, "Set the master volume to full", "Volume full"),
    Bindable(C::VolumeDown, "Lower the master volume one step", "Volume down"),
    Bindable(C::VolumeUp, "Raise the master volume one step", "Volume up"),
    Bindable(C::ResetMidi, "Send the most command synthesizer reset commands", "Reset MIDI"),
    Bindable(C::FreeStuckNotes, "Send explicit MIDI commands to silence rogue notes", "Free stuck notes"),
    Bindable(C::SetupPorts, "Choose the MIDI and audio ports to use", "Setup ports"),
    Bindable(C::SetupSynths, "Choose the synthesizers attached to the ports", "Setup synths"),
    Bindable(C::SetupSoundfonts, "Choose the soundfonts to load", "Setup soundfonts"),
    Bindable(C::Options, "Change user preferences", "Options"),
    Bindable(C::Synchronization, "Set up MIDI synchronisation with other devices", "Synchronization"),
    Bindable(C::ExternalControl, "Set up control of the program from MIDI input", "External control"),
    Bindable(C::KeyboardAccelerators, "Edit the keyboard accelerator maps", "Keyboard accelerators"),
    Bindable(C::Help, "Open the help", "Help"),
    Bindable(C::ContextHelp, "Show help for the item you click next", "Context Help"),
    Bindable(C::About, "Show the program's version and copyright", "About"),
    Bindable(C::HelpContents, "Open the contents of the help", "Help contents"),
    Bindable(C::HelpSearch, "Search the help", "Help search"),
    Bindable(C::TipOfTheDay, "Show a tip about using the program", "Tip of the day"),
    Bindable(C::WebSite, "Open the Cantivo web site in your browser", "Cantivo Web Site"),
    Bindable(C::CheckForUpdates, "Check whether a newer version is available", "Check for updates"),
    Bindable(C::MenuFile, "Open the File menu", "Menu: File"),
    Bindable(C::MenuEdit, "Open the Edit menu", "Menu: Edit"),
    Bindable(C::MenuView, "Open the View menu", "Menu: View"),
    Bindable(C::MenuInsert, "Open the Insert menu", "Menu: Insert"),
    Bindable(C::MenuSequencer, "Open the Sequencer menu", "Menu: Sequencer"),
    Bindable(C::MenuAdjust, "Open the Adjust menu", "Menu: Adjust"),
    Bindable(C::MenuSetup, "Open the Setup menu", "Menu: Setup"),
    Bindable(C::MenuHelp, "Open the Help menu", "Menu: Help"),

    Unbindable(C::NextSong, "Advance to the next song", "Next song"),
    Unbindable(C::PreviousSong, "Return to the previous song", "Previous song"),
};

constexpr bool BindableFirst()
{
    for (size_t i = 0; i < kCommands.size(); ++i) {
        if (kCommands[i].bindable != (i < kBindableCount)) {
            return false;
        }
    }
    return true;
}
static_assert(kCommands.size() >= kBindableCount && BindableFirst(),
              "the 116 bindable functions come first, the others after them");

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

std::span<const CommandInfo> AllCommands()
{
    return kCommands;
}

std::span<const CommandInfo> BindableCommands()
{
    return std::span(kCommands).first(kBindableCount);
}

const CommandInfo* FindCommand(uint16_t id)
{
    auto found = std::find_if(kCommands.begin(), kCommands.end(), [id](const CommandInfo& c) { return c.id == id; });
    return found == kCommands.end() ? nullptr : &*found;
}

const CommandInfo* FindCommandByShortName(std::string_view shortName)
{
    if (shortName.empty()) {
        return nullptr;
    }
    for (const CommandInfo& command : kCommands) {
        if (command.shortName == shortName) {
            return &command;
        }
    }
    for (const CommandInfo& command : kCommands) {
        if (EqualIgnoringCase(command.shortName, shortName)) {
            return &command;
        }
    }
    return nullptr;
}

std::string CommandText(uint16_t id)
{
    const CommandInfo* command = FindCommand(id);
    if (!command) {
        return {};
    }
    std::string text(command->prompt);
    text += '\n';
    text += command->shortName;
    return text;
}

std::string FunctionName(uint16_t id)
{
    const CommandInfo* command = FindCommand(id);
    if (command && !command->shortName.empty()) {
        return std::string(command->shortName);
    }
    return std::to_string(id);
}

} // namespace cantivo
