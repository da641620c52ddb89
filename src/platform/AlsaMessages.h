#pragma once

namespace cantivo {

// The ALSA library prints its own errors to stderr (no sequencer, no sound card). A machine without
// sound hardware is normal here and is reported once in our own words, so those prints are turned off
// for the whole process. Safe to call more than once and from several threads.
void SilenceAlsaLibraryMessages();

} // namespace cantivo
