#include "app/ControlActions.h"

#include "app/TransportCommands.h"
#include "playback/Scheduler.h"
#include "playback/Sequencer.h"

namespace cantivo {

ControlActions::ControlActions(Sequencer& sequencer, Scheduler& scheduler,
                               std::function<CommandOutcome(uint16_t)> dispatch)
    : sequencer_(sequencer), scheduler_(scheduler), dispatch_(std::move(dispatch))
{
}

ControlActions::~ControlActions()
{
    scheduler_.KillTimer(RepeatTimer);
}

void ControlActions::Handle(const EngineNotification& notification)
{
    if (notification.message != EngineMessage::MsgControlAction)
        return;
    scheduler_.KillTimer(RepeatTimer);
    const auto action = static_cast<ControlAction>(notification.value);
    message_ = static_cast<uint32_t>(notification.detail);
    if (action == ControlAction::None)
        return;
    if (action == ControlAction::PlayTap)
        sequencer_.PlayTap(notification.time); // the beat falls when the foot fell, not when the loop woke
    else
        Run(action, message_);
    if (!ControlActionRepeats(action))
        return;
    repeating_ = action;
    counter_ = -7; // the first repeat seven periods on: 875 ms
    scheduler_.StartTimer(RepeatTimer, RepeatPeriod, [this] {
        if (held_ && !held_()) {
            scheduler_.KillTimer(RepeatTimer);
            return;
        }
        if (++counter_ >= 0)
            Run(repeating_, message_);
    });
}

void ControlActions::Command(CommandId command)
{
    if (dispatch_)
        (void)dispatch_(ToNumber(command));
}

void ControlActions::Run(ControlAction action, uint32_t message)
{
    const int value = static_cast<int>(message >> 16 & 0x7F);
    switch (action) {
    case ControlAction::None:
        break;
    case ControlAction::PlayTap:
        sequencer_.PlayTap();
        break;
    case ControlAction::Stop:
        Command(CommandId::Stop);
        break;
    case ControlAction::Pause:
        Command(CommandId::Pause);
        break;
    case ControlAction::PlayStop: {
        const SequencerState state = sequencer_.State();
        Command(state == SequencerState::Playing || state == SequencerState::Starting ? CommandId::Stop
                                                                                      : CommandId::Play);
        break;
    }
    case ControlAction::PlayPause:
        Command(CommandId::PauseUnpause);
        break;
    case ControlAction::Record:
        Command(CommandId::Record);
        break;
    case ControlAction::PreviousSong:
        Command(CommandId::PreviousSong);
        break;
    case ControlAction::PreviousCue:
        Command(CommandId::GotoPreviousCue);
        break;
    case ControlAction::PreviousMeasure:
        Command(CommandId::PreviousMeasure);
        break;
    case ControlAction::NextMeasure:
        Command(CommandId::NextMeasure);
        break;
    case ControlAction::NextCue:
        Command(CommandId::GotoNextCue);
        break;
    case ControlAction::NextSong:
        Command(CommandId::NextSong);
        break;
    case ControlAction::RepeatMeasure:
        Command(CommandId::RepeatMeasure);
        break;
    case ControlAction::SkipNextMeasure:
        Command(CommandId::SkipNextMeasure);
        break;
    case ControlAction::LastVamp:
        Command(CommandId::LastVamp);
        break;
    case ControlAction::TempoNormal:
        Command(CommandId::TempoNormal);
        break;
    case ControlAction::TempoDown:
        Command(CommandId::TempoSlower);
        break;
    case ControlAction::TempoUp:
        Command(CommandId::TempoFaster);
        break;
    case ControlAction::TempoSlider:
        sequencer_.SetTempoRatio((value + 136) * 500); // 0: 68%, 64: 100%, 127: 131.5%
        break;
    case ControlAction::VolumeFull:
        Command(CommandId::VolumeFull);
        break;
    case ControlAction::VolumeDown:
        Command(CommandId::VolumeDown);
        break;
    case ControlAction::VolumeUp:
        Command(CommandId::VolumeUp);
        break;
    case ControlAction::VolumeSlider:
        sequencer_.SetMasterVolume(value * 128);
        break;
    case ControlAction::BeginningOfSong:
        Command(CommandId::GotoBeginning);
        break;
    case ControlAction::EndOfSong:
        Command(CommandId::GotoEnd);
        break;
    case ControlAction::MidiReset:
        Command(CommandId::ResetMidi);
        break;
    }
}

} // namespace cantivo
