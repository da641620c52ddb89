#pragma once

#include "song/MidiFileReader.h"
#include "song/Prompter.h"

#include <optional>
#include <string>

namespace cantivo {

class SaveFiles;
class Song;

// The recovery question for the song at `path` when an autosaved copy lies beside it, else none. The
// user-interface thread asks it before the song is read.
std::optional<std::string> RecoveryQuestion(const std::string& path);

// Reads the song at `path` once the recovery question has been answered (NotAsked when there was none
// or no one answered). Yes reads the autosaved copy first and only when it reads does it replace the
// song file, the old one kept as its backup; a damaged copy is kept and the song is read as saved. No
// deletes the copy; NotAsked leaves every file as it is. Asks nothing: what the user must hear is in the
// result's notices.
ReadResult ReadSongRecovering(Song& song, const std::string& path, PromptAnswer answer, SaveFiles& files);
ReadResult ReadSongRecovering(Song& song, const std::string& path, PromptAnswer answer);

// The programs' open operation, on the user-interface thread: asks the recovery question, reads, and
// shows the read's notices in order. False when the song is not usable; the caller then shows
// DamagedSongMessage.
[[nodiscard]] bool OpenSong(Song& song, const std::string& path, Prompter& prompter);

} // namespace cantivo
