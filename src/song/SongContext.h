#pragma once

#include "song/AudioClip.h"
#include "song/Clock.h"
#include "song/Profile.h"
#include "song/Prompter.h"

#include <string>

namespace cantivo {

// The services a song reaches outside itself. The application passes its real ones; tests pass a
// private profile, scripted answers and a fixed clock. All pointers are non-null and outlive the song.
struct SongContext {
    Profile* profile;
    Prompter* prompter;
    Clock* clock;
    AudioFiles* audio;
    // The private working folder for audio that undo steps hold (its name contains "undoredo.wav");
    // empty when there is none, and then no clip file is ever moved there.
    std::string undoFolder;
};

// Empty profile, silent prompter (safe answers), the steady clock, no audio backend.
SongContext DefaultSongContext();

} // namespace cantivo
