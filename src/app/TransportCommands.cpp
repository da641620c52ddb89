#include "app/TransportCommands.h"

#include "app/CommandTable.h"
#include "playback/Sequencer.h"

namespace cantivo {

bool TransportCommands::Handles(uint16_t command)
{
    switch (static_cast<CommandId>(command)) {
    case CommandId::Play:
    case CommandId::PauseUnpause:
    case CommandId::Pause:
    case CommandId::Stop:
    case CommandId::GotoBeginning:
    case CommandId::GotoEnd:
    case CommandId::PreviousMeasure:
    case CommandId::NextMeasure:
    case CommandId::PreviousNote:
    case CommandId::NextNote:
    case CommandId::TempoNormal:
    case CommandId::TempoSlower:
    case CommandId::TempoFaster:
    case CommandId::VolumeFull:
    case CommandId::VolumeDown:
    case CommandId::VolumeUp:
    case CommandId::ResetMidi:
    case CommandId::FreeStuckNotes:
    case CommandId::RepeatMeasure:
    case CommandId::SkipNextMeasure:
    case CommandId::LastVamp:
    case CommandId::GotoNextCue:
    case CommandId::GotoPreviousCue:
        return true;
    default:
        return false;
    }
}

bool TransportCommands::IsEnabled(uint16_t command) const
{
    switch (static_cast<CommandId>(command)) {
    case CommandId::FreeStuckNotes:
        return true;
    case CommandId::NextNote:
        return sequencer_.CanGotoNextNote();
    case CommandId::PreviousNote:
        return sequencer_.CanGotoPreviousNote();
    case CommandId::LastVamp:
        return sequencer_.CanLastVamp();
    default:
        return Handles(command) && sequencer_.HasSong();
    }
}

CommandOutcome TransportCommands::Run(uint16_t command)
{
    if (!Handles(command))
        return CommandOutcome::NotHandled;
    if (!IsEnabled(command))
        return CommandOutcome::Disabled;
    Sequencer& s = sequencer_;
    switch (static_cast<CommandId>(command)) {
    case CommandId::Play:
        s.PlayTap();
        break;
    case CommandId::PauseUnpause:
        s.PlayPause();
        break;
    case CommandId::Pause:
        s.Pause();
        break;
    case CommandId::Stop:
        s.Stop();
        break;
    case CommandId::GotoBeginning:
        s.GotoBeginning();
        break;
    case CommandId::GotoEnd:
        s.GotoEnd();
        break;
    case CommandId::PreviousMeasure:
        s.PreviousMeasure();
        break;
    case CommandId::NextMeasure:
        s.NextMeasure();
        break;
    case CommandId::PreviousNote:
        s.PreviousNote();
        break;
    case CommandId::NextNote:
        s.NextNote();
        break;
    case CommandId::TempoNormal:
        s.TempoNormal();
        break;
    case CommandId::TempoSlower:
        s.TempoSlower();
        break;
    case CommandId::TempoFaster:
        s.TempoFaster();
        break;
    case CommandId::VolumeFull:
        s.VolumeFull();
        break;
    case CommandId::VolumeDown:
        s.VolumeDown();
        break;
    case CommandId::VolumeUp:
        s.VolumeUp();
        break;
    case CommandId::ResetMidi:
        s.ResetMidi();
        break;
    case CommandId::FreeStuckNotes:
        s.FreeStuckNotes();
        break;
    case CommandId::RepeatMeasure:
        s.RepeatMeasure();
        break;
    case CommandId::SkipNextMeasure:
        s.SkipNextMeasure();
        break;
    case CommandId::LastVamp:
        s.LastVamp();
        break;
    case CommandId::GotoNextCue:
        s.GotoNextCue();
        break;
    case CommandId::GotoPreviousCue:
        s.GotoPreviousCue();
        break;
    default:
        return CommandOutcome::NotHandled;
    }
    return CommandOutcome::Done;
}

} // namespace cantivo
