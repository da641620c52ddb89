#include "song/Track.h"

#include "song/Cue.h"

namespace cantivo {

Track::Track()
{
    initial.fill(-1);
    initialParameters.fill(-1);
    destinations.fill(-1);
    DeriveTextColour();
}

void Track::DeriveTextColour() { textColour = TextColourFor(colour); }

} // namespace cantivo
