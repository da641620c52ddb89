#pragma once

#include <cstdint>

namespace cantivo {

// The program's own sequencer-specific meta events (FF 7F len 'c' 'v' subtype ...): what each subtype
// carries. The encoder and the conductor-track writer write them, the reader reads them back.
namespace ProgramMeta {

inline constexpr uint8_t Tag[2] = {'c', 'v'};

// A note's spelling and notation: the key as written, then (notation + 1) × 16 + spelling + 1.
inline constexpr uint8_t NoteSpelling = 0;
// Track 0: a measure label (its text), a cue record.
inline constexpr uint8_t MeasureLabel = 20;
inline constexpr uint8_t CueRecord = 22;
// User-track settings, each at tick 0.
inline constexpr uint8_t TrackKind = 30;
inline constexpr uint8_t InputPort = 31;
inline constexpr uint8_t InputChannel = 32;
inline constexpr uint8_t DefaultClef = 33;
inline constexpr uint8_t SplitKey = 34;       // key + 60
inline constexpr uint8_t TrackColour = 35;    // red, green, blue
inline constexpr uint8_t KeyOffset = 36;      // offset + 128
inline constexpr uint8_t TimeOffset = 37;     // offset + 0x8000, low byte first
inline constexpr uint8_t VelocityOffset = 38; // offset + 128
inline constexpr uint8_t PlayFlag = 39;
inline constexpr uint8_t FirstTrackSetting = TrackKind;
inline constexpr uint8_t LastTrackSetting = PlayFlag;
// "This track's initial values are in its marked blocks", among the settings of a saved track.
inline constexpr uint8_t MarkedTrack = 40;
// Announces an initial block; carries the count of the block's items.
inline constexpr uint8_t InitialBlock = 41;
// Carries nothing: splits a delta longer than a file can hold and is dropped when read.
inline constexpr uint8_t Gap = 42;

} // namespace ProgramMeta

} // namespace cantivo
