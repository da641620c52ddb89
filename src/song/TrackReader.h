#pragma once

namespace cantivo {

class Song;
class Track;

// Turns a user track's image into its settings and events.
void ParseTrack(Song& song, Track& track);

} // namespace cantivo
