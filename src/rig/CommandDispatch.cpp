#include "rig/CommandDispatch.h"

#include "rig/Show.h"

namespace cantivo {

bool CommandDispatch::Handles(uint16_t command)
{
    return Show::IsSetCommand(command) || TransportCommands::Handles(command);
}

bool CommandDispatch::IsEnabled(uint16_t command) const
{
    if (Show::IsSetCommand(command))
        return show_.IsSet();
    return transport_.IsEnabled(command);
}

CommandOutcome CommandDispatch::Run(uint16_t command)
{
    if (Show::IsSetCommand(command))
        return show_.RunSetCommand(command) ? CommandOutcome::Done : CommandOutcome::Disabled;
    return transport_.Run(command);
}

} // namespace cantivo
