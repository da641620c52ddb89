#include "song/Song.h"
#include "song/TrackEncoder.h"

namespace cantivo {

// ---- to be filled in ----
void Song::UpdateSongEnd(int) {}

} // namespace cantivo
