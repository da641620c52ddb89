#pragma once

#include "song/SongEvent.h"

#include <string>

namespace cantivo {

// The value column of the event list: velocity, controller value, parameter value in its unit, texts.
std::string EventValueText(const SongEvent& event);
// "C#4 (61)": letter, accidental, octave and key number, spelled for the key signature (−7 to 7).
std::string NoteName(const SongEvent& event, int keySignature);
// The key signature a measure's key becomes in a track whose key offset moves it by `keyOffset` semitones.
int TransposedKeySignature(int keySignature, int keyOffset);

} // namespace cantivo
