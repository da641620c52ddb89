#pragma once

#include "edit/UndoStep.h"

#include <memory>

namespace cantivo {

class Song;

// The "Apply offsets" step the writer submits when encoding had to clip values: for every user track
// whose clip flags are set, each event that the flagged offsets change is replaced by a copy with them
// applied (keys into 0-127 by whole octaves, note-on velocities into 1-127, times not before 0, a note
// moved before 0 losing that part of its duration), and those offsets of the track become 0.
// Null when no track is flagged.
std::unique_ptr<UndoStep> BuildApplyOffsetsStep(const Song& song);

} // namespace cantivo
