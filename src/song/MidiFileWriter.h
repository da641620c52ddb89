#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cantivo {

class SaveFiles;
class Song;
class Track;

inline constexpr const char* MoveClipErrorFormat = "Error moving file: %08x";
// A clip whose file does not open again after the save moved it: its name and the error code.
inline constexpr const char* ReopenClipErrorFormat = "Trouble opening audio clip %s: %08x";

struct WriteOptions {
    // Write to exactly the given path: the song is not renamed after its title, and the recovery file
    // beside it is left alone. For tools such as the converter.
    bool exactPath = false;
    // The file operations; null means the disk.
    SaveFiles* files = nullptr;
    // Told the song's new path when the save renamed it after its title, so the open set can record it.
    std::function<void(const std::string& newPath)> renamed;
};

// Saves the song as a Standard MIDI File at `path`; a path ending in "sav" is an autosave (no offset
// question, no clip moves, no backup, no renaming, the song stays modified). The target is replaced
// only by a complete, synced file: a failed save leaves the old file and its backup as they were,
// tells the user through the prompter and returns false. Cancel at the offset question returns false
// with nothing written.
[[nodiscard]] bool WriteSong(Song& song, const std::string& path, const WriteOptions& options = {});

// The question asked before a save when encoding had to clip values; empty when no track clipped.
std::string OffsetQuestion(const Song& song);
// Applies the offsets of the kinds named by the track's clip flags to its events and sets those offsets
// to 0: the "Apply offsets" edit for a song that has no edit history (a tool's song).
void ApplyClippedOffsets(Track& track);

} // namespace cantivo
