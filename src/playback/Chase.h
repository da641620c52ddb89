#pragma once

#include "playback/SequencerState.h"

#include <array>
#include <cstdint>

namespace cantivo {

struct PlaybackModel;

// Brings the synthesizers to the state they would be in had the song played from its start to a
// position: per output port and channel, so tracks sharing a channel resolve to one final state, and
// only what differs from what the port already holds is sent. Its working lists are fixed arrays made
// once, so a chase on the play thread allocates nothing.
class Chaser {
  public:
    Chaser();

    // Moves every track's cursor to `target` (clamped to the song) and sends what differs; with
    // `state` Starting also the notes that should sound and the sustain. Returns the new position.
    // A "Skip" cue stopping exactly at the target while playing or starting lands on its restart.
    int32_t Chase(PlaybackModel& model, int32_t target, SequencerState state);

  private:
    struct ChasedMessage {
        uint32_t message;
        int32_t tick;
    };
    static constexpr int KeysPerChannel = 131; // 128 controllers, program, pressure, bend
    static constexpr int MaxMessages = 16 * KeysPerChannel;
    static constexpr int MaxNotes = 4096;

    void ChaseGroup(PlaybackModel& model, int first, int32_t target, SequencerState state);
    // Merges a message into the chased list: it replaces the entry of its kind when it is at least
    // as recent; false when the list has no entry of its kind.
    bool Merge(uint32_t message, int32_t tick, bool appendWhenNew);
    void AddNote(uint32_t taggedNote);
    void RemoveNote(uint32_t taggedNote);
    void ApplyMessages(struct PlaybackTrack& lead, SequencerState state, uint8_t& pendingSustain);
    void ApplyNotes(struct PlaybackTrack& lead, uint8_t& pendingSustain);

    std::array<ChasedMessage, MaxMessages> messages_;
    int messageCount_ = 0;
    std::array<int16_t, MaxMessages> slotOfKey_; // -1: no entry of that kind yet
    std::array<uint32_t, MaxNotes> notes_;
    int noteCount_ = 0;
    std::array<int, 256> group_; // track indexes of the group being chased
};

} // namespace cantivo
