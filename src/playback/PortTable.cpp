#include "playback/PortTable.h"

#include "song/Profile.h"

#include <algorithm>
#include <map>

namespace cantivo {

std::vector<std::string> PortTable::UniqueNames(const std::vector<std::string>& names)
{
    std::map<std::string, int> seen;
    std::vector<std::string> unique;
    unique.reserve(names.size());
    for (const std::string& name : names) {
        const int occurrence = ++seen[name];
        unique.push_back(occurrence == 1 ? name : name + " (" + std::to_string(occurrence) + ")");
    }
    return unique;
}

std::vector<int32_t> PortTable::ReadMapping(const Profile& profile, const std::string& prefix,
                                            const std::vector<std::string>& deviceNames)
{
    std::vector<int32_t> mapping;
    for (int logical = 0; logical < MaxLogicalPorts; ++logical) {
        const std::string name = profile.GetString("PortsToUse", prefix + std::to_string(logical), "");
        if (name.empty())
            break;
        const auto found = std::find(deviceNames.begin(), deviceNames.end(), name);
        mapping.push_back(found == deviceNames.end() ? -1 : static_cast<int32_t>(found - deviceNames.begin()));
    }
    if (mapping.empty())
        for (size_t i = 0; i < deviceNames.size() && i < MaxLogicalPorts; ++i)
            mapping.push_back(static_cast<int32_t>(i));
    return mapping;
}

int PortTable::ClampTimerResolution(int configured, int minimum, int maximum)
{
    return std::clamp(configured, minimum, std::max(minimum, maximum));
}

void PortTable::OpenOutputs(std::vector<OutputDeviceEntry> devices, const Profile& profile)
{
    CloseAll();
    std::vector<std::string> names;
    for (const OutputDeviceEntry& entry : devices)
        names.push_back(entry.name);
    names = UniqueNames(names);
    for (size_t i = 0; i < devices.size(); ++i) {
        outputs_.push_back(std::make_unique<MidiOutPort>(names[i], devices[i].device.get()));
        devices_.push_back(std::move(devices[i].device));
    }
    outputMapping_ = ReadMapping(profile, "MIDIOUT", names);
}

void PortTable::CloseAll()
{
    outputs_.clear();
    devices_.clear();
    outputMapping_.clear();
}

MidiOutPort* PortTable::OutputForLogical(int logicalPort)
{
    if (logicalPort < 0 || logicalPort >= static_cast<int>(outputMapping_.size()))
        return nullptr;
    const int32_t index = outputMapping_[static_cast<size_t>(logicalPort)];
    return index < 0 || index >= OutputCount() ? nullptr : outputs_[static_cast<size_t>(index)].get();
}

void PortTable::FreeStuckNotes()
{
    for (const auto& port : outputs_)
        port->FreeStuckNotes();
}

void PortTable::ResetMappedPorts(const SynthResetLookup* lookup)
{
    std::vector<bool> done(outputs_.size(), false);
    for (auto entry = outputMapping_.rbegin(); entry != outputMapping_.rend(); ++entry) {
        if (*entry < 0 || *entry >= OutputCount() || done[static_cast<size_t>(*entry)])
            continue;
        done[static_cast<size_t>(*entry)] = true;
        ResetPort(*outputs_[static_cast<size_t>(*entry)], lookup);
    }
}

void PortTable::ResetPort(MidiOutPort& port, const SynthResetLookup* lookup)
{
    const std::optional<SynthReset> reset = lookup ? lookup->ForPort(port.Name()) : std::nullopt;
    if (reset) {
        const uint32_t flags = reset->technology;
        if (flags & ResetUsedControllers)
            port.ResetControllers();
        if (flags & ResetGeneralMidi)
            port.SendLong(GeneralMidiSystemOn);
        if (flags & ResetGs)
            port.SendLong(GsReset);
        if (flags & ResetXg)
            port.SendLong(XgSystemOn);
        if (flags & ResetUserSysex)
            if (const auto bytes = ParseResetSysex(reset->resetSysex))
                port.SendLong(*bytes);
        if (flags & (ResetAllSoundOff | ResetAllControllers))
            for (int channel = 0; channel < 16; ++channel) {
                if (flags & ResetAllSoundOff)
                    port.SendShort(static_cast<uint32_t>(0xB0 | channel) | 120u << 8);
                if (flags & ResetAllControllers)
                    port.SendShort(static_cast<uint32_t>(0xB0 | channel) | 121u << 8);
            }
    }
    port.ClearState();
}

} // namespace cantivo
