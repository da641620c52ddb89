#include "cli/Commands.h"
#include "rig/Session.h"

#include "platform/RtMidiBackend.h"
#include "platform/SynthDevice.h"
#include "playback/MicrosecondClock.h"
#include "playback/PortTable.h"
#include "song/Profile.h"

#include <ostream>

namespace cantivo {

namespace {

int RunPorts(Session& session)
{
    std::ostream& out = session.Out();
    const Profile& profile = *session.Context().profile;
    SteadyMicrosecondClock clock;
    MidiPortList ports = RtMidiBackend::Enumerate(clock);
    std::vector<std::string> outputs = {SynthDeviceName};
    for (const auto& port : ports.outputs)
        outputs.push_back(port.name);
    outputs = PortTable::UniqueNames(outputs);
    std::vector<std::string> inputs;
    for (const auto& port : ports.inputs)
        inputs.push_back(port.name);
    inputs = PortTable::UniqueNames(inputs);

    out << "Output devices:\n";
    for (size_t i = 0; i < outputs.size(); ++i)
        out << "  " << i << "  " << outputs[i] << "\n";
    out << "Input devices:\n";
    if (inputs.empty())
        out << "  (none)\n";
    for (size_t i = 0; i < inputs.size(); ++i)
        out << "  " << i << "  " << inputs[i] << "\n";
    if (!ports.notice.empty())
        out << ports.notice << "\n";

    for (const auto& [prefix, names] :
         {std::pair{std::string("MIDIOUT"), &outputs}, std::pair{std::string("MIDIIN"), &inputs}}) {
        const std::vector<int32_t> mapping = PortTable::ReadMapping(profile, prefix, *names);
        out << "Logical " << (prefix == "MIDIOUT" ? "output" : "input") << " ports (PortsToUse " << prefix << "n):\n";
        if (mapping.empty())
            out << "  (none)\n";
        for (size_t i = 0; i < mapping.size(); ++i) {
            const std::string saved = profile.GetString("PortsToUse", prefix + std::to_string(i), "");
            out << "  " << i << "  ";
            if (mapping[i] >= 0)
                out << (*names)[static_cast<size_t>(mapping[i])];
            else
                out << "(undefined: \"" << saved << "\" is not connected)";
            out << "\n";
        }
    }
    return ExitSuccess;
}

} // namespace

CliCommand AddPortsCommand(CLI::App& tool, Session& session)
{
    CLI::App* app =
        tool.add_subcommand("ports", "Lists the MIDI output and input devices and the logical port mapping");
    return {app, [&session] { return RunPorts(session); }};
}

} // namespace cantivo
