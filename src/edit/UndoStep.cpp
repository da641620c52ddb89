#include "edit/UndoStep.h"

namespace cantivo {

void UndoStep::ForEachHeldClip(const std::function<void(AudioClip&)>& visit) const
{
    if (Has(StepEvents))
        events.ForEachClip(visit);
    if (Has(StepTracks))
        tracks.ForEachClip(visit);
}

} // namespace cantivo
