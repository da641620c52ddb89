#include "synthdb/SynthLookup.h"

namespace cantivo {

namespace {

int64_t PatchKey(int32_t bank, int32_t patch)
{
    return static_cast<int64_t>(bank) * 256 + (patch + 1); // patch -1 is the bank's own name
}

int64_t DrumKey(int32_t bank, int32_t program)
{
    return static_cast<int64_t>(bank) * 256 + program;
}

} // namespace

struct SynthLookup::Cached {
    Synthesizer synth;
    std::unordered_map<int64_t, const std::string*> patches;
    std::unordered_map<int64_t, const DrumSet*> drumSets;
    std::array<const std::string*, 128> controllers{};
    std::unordered_map<int32_t, const std::string*> nrpns;
};

SynthLookup::SynthLookup(SynthDatabase& database) : database_(database), generation_(database.Generation()) {}

SynthLookup::~SynthLookup() = default;

void SynthLookup::Invalidate()
{
    synths_.clear();
    ports_.clear();
    generation_ = database_.Generation();
}

void SynthLookup::CheckGeneration()
{
    if (generation_ != database_.Generation())
        Invalidate();
}

const SynthLookup::Cached* SynthLookup::Load(int32_t synthNumber)
{
    CheckGeneration();
    const auto found = synths_.find(synthNumber);
    if (found != synths_.end())
        return found->second.get();
    std::unique_ptr<Cached> cached;
    if (std::optional<Synthesizer> synth = database_.LoadSynth(synthNumber)) {
        cached = std::make_unique<Cached>();
        cached->synth = std::move(*synth);
        for (const SynthBank& bank : cached->synth.banks) {
            cached->patches[PatchKey(bank.number, -1)] = &bank.name;
            for (const SynthPatch& patch : bank.patches)
                cached->patches[PatchKey(bank.number, patch.number)] = &patch.name;
        }
        for (const DrumSet& set : cached->synth.drumSets)
            cached->drumSets[DrumKey(set.bank, set.program)] = &set;
        for (const NamedNumber& controller : cached->synth.controllers)
            if (controller.number >= 0 && controller.number < 128)
                cached->controllers[controller.number] = &controller.name;
        for (const NamedNumber& nrpn : cached->synth.nrpns)
            cached->nrpns[nrpn.number] = &nrpn.name;
    }
    return synths_.emplace(synthNumber, std::move(cached)).first->second.get();
}

const PortBinding* SynthLookup::Port(const std::string& portName)
{
    CheckGeneration();
    auto found = ports_.find(portName);
    if (found == ports_.end())
        found = ports_.emplace(portName, database_.QueryPort(portName)).first;
    return found->second ? &*found->second : nullptr;
}

int32_t SynthLookup::DrumMask(const std::string& portName)
{
    const PortBinding* binding = Port(portName);
    return binding ? binding->drums : 0;
}

const Synthesizer* SynthLookup::PortSynth(const std::string& portName)
{
    const PortBinding* binding = Port(portName);
    return binding ? Synth(binding->synthNumber) : nullptr;
}

const Synthesizer* SynthLookup::Synth(int32_t synthNumber)
{
    const Cached* cached = Load(synthNumber);
    return cached ? &cached->synth : nullptr;
}

const std::string* SynthLookup::PatchName(int32_t synth, int32_t bank, int32_t patch)
{
    const Cached* cached = Load(synth);
    if (!cached)
        return nullptr;
    const auto found = cached->patches.find(PatchKey(bank, patch));
    return found == cached->patches.end() ? nullptr : found->second;
}

const std::string* SynthLookup::BankName(int32_t synth, int32_t bank)
{
    return PatchName(synth, bank, -1);
}

const DrumSet* SynthLookup::FindDrumSet(int32_t synth, int32_t bank, int32_t program)
{
    const Cached* cached = Load(synth);
    if (!cached)
        return nullptr;
    const auto found = cached->drumSets.find(DrumKey(bank, program));
    return found == cached->drumSets.end() ? nullptr : found->second;
}

const std::string* SynthLookup::DrumNoteName(int32_t synth, int32_t bank, int32_t program, int32_t note)
{
    const DrumSet* set = FindDrumSet(synth, bank, program);
    if (!set)
        return nullptr;
    if (note < 0)
        return &set->name;
    for (const DrumNote& entry : set->notes)
        if (entry.number == note)
            return &entry.name;
    return nullptr;
}

const std::string* SynthLookup::ControllerName(int32_t synth, int32_t controller)
{
    const Cached* cached = Load(synth);
    return cached && controller >= 0 && controller < 128 ? cached->controllers[controller] : nullptr;
}

const std::string* SynthLookup::NrpnName(int32_t synth, int32_t nrpn)
{
    const Cached* cached = Load(synth);
    if (!cached)
        return nullptr;
    const auto found = cached->nrpns.find(nrpn);
    return found == cached->nrpns.end() ? nullptr : found->second;
}

std::vector<ControllerEntry> SynthLookup::PortControllers(const std::string& portName)
{
    const Synthesizer* synth = PortSynth(portName);
    return ControllerList(synth ? synth->controllers : std::vector<NamedNumber>{});
}

std::vector<std::string> SynthLookup::PortDrumSetTexts(const std::string& portName)
{
    std::vector<std::string> texts;
    if (const Synthesizer* synth = PortSynth(portName))
        for (const DrumSet& set : synth->drumSets)
            texts.push_back(PortDrumSetText(set.bank, set.program, set.name));
    return texts;
}

std::optional<ResetSettings> SynthLookup::PortReset(const std::string& portName)
{
    const Synthesizer* synth = PortSynth(portName);
    if (!synth)
        return std::nullopt;
    return ResetSettings{synth->technology, synth->resetSysex};
}

bool SynthLookup::IsDrumTrack(const std::string& portName, int32_t channel, int32_t bank, int32_t patch)
{
    const PortBinding* binding = Port(portName);
    if (!binding)
        return false;
    if (channel >= 0 && channel < 16 && (binding->drums & (1 << channel)) != 0)
        return true;
    return FindDrumSet(binding->synthNumber, bank, patch) != nullptr &&
           PatchName(binding->synthNumber, bank, patch) == nullptr;
}

} // namespace cantivo
