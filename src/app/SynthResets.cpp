#include "app/SynthResets.h"

#include "synthdb/SynthDatabase.h"
#include "synthdb/SynthLookup.h"

namespace cantivo {

std::optional<SynthReset> DatabaseResets::ForPort(const std::string& uniqueName) const
{
    const std::optional<ResetSettings> settings = database_->Lookup().PortReset(uniqueName);
    if (!settings)
        return std::nullopt;
    return SynthReset{static_cast<uint32_t>(settings->technology), settings->resetSysex};
}

} // namespace cantivo
