#include "synthdb/SynthEditorModel.h"

#include "song/Prompter.h"
#include "synthdb/ResetText.h"
#include "synthdb/SynthFile.h"

#include <algorithm>

namespace cantivo {

namespace {

constexpr int32_t ResetBits = TechGmReset | TechGsReset | TechXgReset | TechDefaultControllers | TechAllSoundOff |
                              TechResetAllControllers | TechUserReset;

std::string Shown(int32_t number, int32_t offset = 0)
{
    return number == UnknownNumber ? "?" : std::to_string(number + offset);
}

// The next number for a new entry: one past the highest in use, else the lowest free one.
template <typename Entry> int32_t NextFree(const std::vector<Entry>& entries, int32_t high)
{
    int32_t highest = -1;
    for (const Entry& entry : entries)
        highest = std::max(highest, entry.number);
    if (highest < high)
        return highest + 1;
    for (int32_t number = 0; number <= high; ++number)
        if (std::none_of(entries.begin(), entries.end(), [&](const Entry& entry) { return entry.number == number; }))
            return number;
    return UnknownNumber;
}

template <typename Entry> bool NumberInUse(const std::vector<Entry>& entries, int except, int32_t number)
{
    for (size_t i = 0; i < entries.size(); ++i)
        if (static_cast<int>(i) != except && entries[i].number == number)
            return true;
    return false;
}

// Sorts the entries by number and gives the new place of the one at `index`.
template <typename Entry, typename Key> int Resort(std::vector<Entry>& entries, int index, Key key)
{
    const auto wanted = key(entries[index]);
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) { return key(a) < key(b); });
    for (size_t i = 0; i < entries.size(); ++i)
        if (key(entries[i]) == wanted)
            return static_cast<int>(i);
    return index;
}

std::string RangeMessage(const NumberRange& range)
{
    return "Please enter an integer between " + std::to_string(range.low) + " and " + std::to_string(range.high) + ".";
}

} // namespace

void SynthEditorModel::Load(SynthDatabase& database)
{
    synths_.clear();
    removed_.clear();
    for (const SynthInfo& info : database.Synths())
        if (std::optional<Synthesizer> synth = database.LoadSynth(info.number))
            synths_.push_back(std::move(*synth));
    changed_.assign(synths_.size(), false);
}

std::vector<SynthItem> SynthEditorModel::Roots() const
{
    std::vector<SynthItem> roots;
    for (size_t i = 0; i < synths_.size(); ++i)
        roots.push_back({SynthItemKind::Synth, static_cast<int>(i)});
    return roots;
}

std::vector<SynthItem> SynthEditorModel::Children(const SynthItem& parent) const
{
    std::vector<SynthItem> children;
    const Synthesizer& synth = synths_.at(parent.synth);
    auto add = [&](SynthItemKind kind, size_t count, int group) {
        for (size_t i = 0; i < count; ++i)
            children.push_back(
                {kind, parent.synth, group < 0 ? static_cast<int>(i) : group, group < 0 ? -1 : static_cast<int>(i)});
    };
    switch (parent.kind) {
    case SynthItemKind::Synth:
        for (SynthItemKind kind : {SynthItemKind::PatchesGroup, SynthItemKind::DrumsetsGroup,
                                   SynthItemKind::ControllersGroup, SynthItemKind::NrpnGroup})
            children.push_back({kind, parent.synth});
        break;
    case SynthItemKind::PatchesGroup:
        add(SynthItemKind::Bank, synth.banks.size(), -1);
        break;
    case SynthItemKind::DrumsetsGroup:
        add(SynthItemKind::DrumSet, synth.drumSets.size(), -1);
        break;
    case SynthItemKind::Bank:
        add(SynthItemKind::Patch, synth.banks.at(parent.group).patches.size(), parent.group);
        break;
    case SynthItemKind::DrumSet:
        add(SynthItemKind::Note, synth.drumSets.at(parent.group).notes.size(), parent.group);
        break;
    case SynthItemKind::ControllersGroup:
        for (size_t i = 0; i < synth.controllers.size(); ++i)
            children.push_back({SynthItemKind::Controller, parent.synth, -1, static_cast<int>(i)});
        break;
    case SynthItemKind::NrpnGroup:
        for (size_t i = 0; i < synth.nrpns.size(); ++i)
            children.push_back({SynthItemKind::Nrpn, parent.synth, -1, static_cast<int>(i)});
        break;
    default:
        break;
    }
    return children;
}

std::string SynthEditorModel::ItemText(const SynthItem& item) const
{
    const Synthesizer& synth = synths_.at(item.synth);
    switch (item.kind) {
    case SynthItemKind::Synth:
        return synth.name;
    case SynthItemKind::PatchesGroup:
        return "Patches";
    case SynthItemKind::DrumsetsGroup:
        return "Drumsets";
    case SynthItemKind::ControllersGroup:
        return "Controllers";
    case SynthItemKind::NrpnGroup:
        return "NRPN";
    case SynthItemKind::Bank: {
        const SynthBank& bank = synth.banks.at(item.group);
        return bank.number == UnknownNumber ? "Bank ?: " + bank.name
                                            : BankText(bank.number, bank.name, synth.Cc0Only());
    }
    case SynthItemKind::Patch: {
        const SynthPatch& patch = synth.banks.at(item.group).patches.at(item.entry);
        return patch.number == UnknownNumber ? "?: " + patch.name : PatchText(patch.number, patch.name);
    }
    case SynthItemKind::DrumSet: {
        const DrumSet& set = synth.drumSets.at(item.group);
        return set.bank == UnknownNumber || set.program == UnknownNumber
                   ? Shown(set.bank) + "," + Shown(set.program, 1) + ": " + set.name
                   : DrumSetText(set.bank, set.program, set.name, synth.Cc0Only());
    }
    case SynthItemKind::Note: {
        const DrumNote& note = synth.drumSets.at(item.group).notes.at(item.entry);
        return Shown(note.number) + ": " + note.name;
    }
    case SynthItemKind::Controller: {
        const NamedNumber& controller = synth.controllers.at(item.entry);
        return Shown(controller.number) + ": " + controller.name;
    }
    case SynthItemKind::Nrpn: {
        const NamedNumber& nrpn = synth.nrpns.at(item.entry);
        return Shown(nrpn.number) + ": " + nrpn.name;
    }
    }
    return {};
}

std::string SynthEditorModel::Title(const std::optional<SynthItem>& selected) const
{
    if (!selected)
        return "Synth database...";
    return "Synth database [" + synths_.at(selected->synth).name + "] ...";
}

std::vector<std::string> SynthEditorModel::MenuItems(const std::optional<SynthItem>& selected) const
{
    if (!selected)
        return {"Import synth"};
    switch (selected->kind) {
    case SynthItemKind::Synth:
        return {"Import synth", "Remove synth"};
    case SynthItemKind::PatchesGroup:
        return {"Insert bank"};
    case SynthItemKind::Bank:
        return {"Insert bank", "Remove bank", "Insert patch"};
    case SynthItemKind::Patch:
        return {"Insert patch", "Remove patch"};
    case SynthItemKind::DrumsetsGroup:
        return {"Insert drumset"};
    case SynthItemKind::DrumSet:
        return {"Insert drumset", "Remove drumset", "Insert note"};
    case SynthItemKind::Note:
        return {"Insert note", "Remove note"};
    case SynthItemKind::ControllersGroup:
        return {"Insert CC"};
    case SynthItemKind::Controller:
        return {"Insert CC", "Remove CC"};
    case SynthItemKind::NrpnGroup:
        return {"Insert NRPN"};
    case SynthItemKind::Nrpn:
        return {"Insert NRPN", "Remove NRPN"};
    }
    return {};
}

SynthItem SynthEditorModel::InsertBank(int synth)
{
    std::vector<SynthBank>& banks = synths_.at(synth).banks;
    banks.push_back({UnknownNumber, "New bank", {}});
    changed_[synth] = true;
    return {SynthItemKind::Bank, synth, static_cast<int>(banks.size() - 1)};
}

SynthItem SynthEditorModel::InsertPatch(int synth, int bank)
{
    std::vector<SynthPatch>& patches = synths_.at(synth).banks.at(bank).patches;
    patches.push_back({NextFree(patches, 127), "New Patch", {}});
    changed_[synth] = true;
    return {SynthItemKind::Patch, synth, bank, static_cast<int>(patches.size() - 1)};
}

SynthItem SynthEditorModel::InsertDrumSet(int synth)
{
    std::vector<DrumSet>& sets = synths_.at(synth).drumSets;
    sets.push_back({UnknownNumber, UnknownNumber, "New drumset", {}});
    changed_[synth] = true;
    return {SynthItemKind::DrumSet, synth, static_cast<int>(sets.size() - 1)};
}

SynthItem SynthEditorModel::InsertNote(int synth, int drumSet)
{
    std::vector<DrumNote>& notes = synths_.at(synth).drumSets.at(drumSet).notes;
    notes.push_back({NextFree(notes, 127), "New note"});
    changed_[synth] = true;
    return {SynthItemKind::Note, synth, drumSet, static_cast<int>(notes.size() - 1)};
}

SynthItem SynthEditorModel::InsertController(int synth)
{
    std::vector<NamedNumber>& controllers = synths_.at(synth).controllers;
    controllers.push_back({NextFree(controllers, 127), "New CC"});
    changed_[synth] = true;
    return {SynthItemKind::Controller, synth, -1, static_cast<int>(controllers.size() - 1)};
}

SynthItem SynthEditorModel::InsertNrpn(int synth)
{
    std::vector<NamedNumber>& nrpns = synths_.at(synth).nrpns;
    nrpns.push_back({NextFree(nrpns, MaxNrpnNumber), "New NRPN"});
    changed_[synth] = true;
    return {SynthItemKind::Nrpn, synth, -1, static_cast<int>(nrpns.size() - 1)};
}

NumberRange SynthEditorModel::Range(const SynthItem& item) const
{
    switch (item.kind) {
    case SynthItemKind::Bank:
    case SynthItemKind::DrumSet:
        return {0, synths_.at(item.synth).Cc0Only() ? 127 : MaxBankNumber};
    case SynthItemKind::Patch:
        return {1, 128};
    case SynthItemKind::Nrpn:
        return {0, MaxNrpnNumber};
    default:
        return {0, 127};
    }
}

std::optional<int32_t> SynthEditorModel::ShownNumber(const SynthItem& item) const
{
    const Synthesizer& synth = synths_.at(item.synth);
    int32_t number = UnknownNumber;
    switch (item.kind) {
    case SynthItemKind::Bank:
        number = synth.banks.at(item.group).number;
        break;
    case SynthItemKind::DrumSet:
        number = synth.drumSets.at(item.group).bank;
        break;
    case SynthItemKind::Patch:
        number = synth.banks.at(item.group).patches.at(item.entry).number;
        break;
    case SynthItemKind::Note:
        number = synth.drumSets.at(item.group).notes.at(item.entry).number;
        break;
    case SynthItemKind::Controller:
        number = synth.controllers.at(item.entry).number;
        break;
    case SynthItemKind::Nrpn:
        number = synth.nrpns.at(item.entry).number;
        break;
    default:
        break;
    }
    if (number == UnknownNumber)
        return std::nullopt;
    if ((item.kind == SynthItemKind::Bank || item.kind == SynthItemKind::DrumSet) && synth.Cc0Only())
        return number >> 7;
    return item.kind == SynthItemKind::Patch ? number + 1 : number;
}

SynthEditResult SynthEditorModel::Refuse(const SynthItem& item, const std::string& message) const
{
    return {false, message, item};
}

SynthEditResult SynthEditorModel::CheckNumber(const SynthItem& item, int32_t shown) const
{
    const NumberRange range = Range(item);
    if (shown < range.low || shown > range.high)
        return Refuse(item, RangeMessage(range));
    return {true, {}, item};
}

SynthEditResult SynthEditorModel::EditBank(const SynthItem& item, int32_t number, const std::string& name)
{
    if (SynthEditResult check = CheckNumber(item, number); !check)
        return check;
    Synthesizer& synth = synths_.at(item.synth);
    const int32_t bankNumber = synth.Cc0Only() ? number * 128 : number;
    if (NumberInUse(synth.banks, item.group, bankNumber))
        return Refuse(item, "That bank number is already in use.");
    synth.banks.at(item.group).number = bankNumber;
    synth.banks.at(item.group).name = name;
    changed_[item.synth] = true;
    SynthItem moved = item;
    moved.group = Resort(synth.banks, item.group, [](const SynthBank& bank) { return bank.number; });
    return {true, {}, moved};
}

SynthEditResult SynthEditorModel::EditPatch(const SynthItem& item, int32_t shownNumber, const std::string& name,
                                            const std::string& category)
{
    if (SynthEditResult check = CheckNumber(item, shownNumber); !check)
        return check;
    std::vector<SynthPatch>& patches = synths_.at(item.synth).banks.at(item.group).patches;
    if (NumberInUse(patches, item.entry, shownNumber - 1))
        return Refuse(item, "That patch number is already in use.");
    patches.at(item.entry) = {shownNumber - 1, name, ClipText(category, CategoryLength)};
    changed_[item.synth] = true;
    SynthItem moved = item;
    moved.entry = Resort(patches, item.entry, [](const SynthPatch& patch) { return patch.number; });
    return {true, {}, moved};
}

SynthEditResult SynthEditorModel::EditDrumSet(const SynthItem& item, int32_t bank, int32_t shownProgram,
                                              const std::string& name)
{
    if (SynthEditResult check = CheckNumber(item, bank); !check)
        return check;
    if (shownProgram < 1 || shownProgram > 128)
        return Refuse(item, RangeMessage({1, 128}));
    Synthesizer& synth = synths_.at(item.synth);
    const int32_t bankNumber = synth.Cc0Only() ? bank * 128 : bank;
    for (size_t i = 0; i < synth.drumSets.size(); ++i)
        if (static_cast<int>(i) != item.group && synth.drumSets[i].bank == bankNumber &&
            synth.drumSets[i].program == shownProgram - 1)
            return Refuse(item, "That bank/patch number is already in use.");
    DrumSet& set = synth.drumSets.at(item.group);
    set.bank = bankNumber;
    set.program = shownProgram - 1;
    set.name = name;
    changed_[item.synth] = true;
    SynthItem moved = item;
    moved.group = Resort(synth.drumSets, item.group, [](const DrumSet& entry) {
        return std::pair{entry.bank, entry.program};
    });
    return {true, {}, moved};
}

SynthEditResult SynthEditorModel::EditNote(const SynthItem& item, int32_t number, const std::string& name)
{
    if (SynthEditResult check = CheckNumber(item, number); !check)
        return check;
    std::vector<DrumNote>& notes = synths_.at(item.synth).drumSets.at(item.group).notes;
    if (NumberInUse(notes, item.entry, number))
        return Refuse(item, "That note number is already in use.");
    notes.at(item.entry).number = number;
    notes.at(item.entry).name = name;
    changed_[item.synth] = true;
    SynthItem moved = item;
    moved.entry = Resort(notes, item.entry, [](const DrumNote& note) { return note.number; });
    return {true, {}, moved};
}

SynthEditResult SynthEditorModel::EditController(const SynthItem& item, int32_t number, const std::string& name)
{
    if (SynthEditResult check = CheckNumber(item, number); !check)
        return check;
    std::vector<NamedNumber>& controllers = synths_.at(item.synth).controllers;
    if (NumberInUse(controllers, item.entry, number))
        return Refuse(item, "That CC number is already in use.");
    controllers.at(item.entry) = {number, ClipText(name, ControllerNameLength)};
    changed_[item.synth] = true;
    SynthItem moved = item;
    moved.entry = Resort(controllers, item.entry, [](const NamedNumber& entry) { return entry.number; });
    return {true, {}, moved};
}

SynthEditResult SynthEditorModel::EditNrpn(const SynthItem& item, int32_t number, const std::string& name)
{
    if (SynthEditResult check = CheckNumber(item, number); !check)
        return check;
    std::vector<NamedNumber>& nrpns = synths_.at(item.synth).nrpns;
    if (NumberInUse(nrpns, item.entry, number))
        return Refuse(item, "That NRPN number is already in use.");
    nrpns.at(item.entry) = {number, ClipText(name, ControllerNameLength)};
    changed_[item.synth] = true;
    SynthItem moved = item;
    moved.entry = Resort(nrpns, item.entry, [](const NamedNumber& entry) { return entry.number; });
    return {true, {}, moved};
}

SynthSettings SynthEditorModel::Settings(int synth) const
{
    const Synthesizer& entry = synths_.at(synth);
    return {entry.name, entry.Cc0Only(), entry.technology & ResetBits, entry.resetSysex};
}

SynthEditResult SynthEditorModel::EditSynth(int synth, const SynthSettings& settings)
{
    const SynthItem item{SynthItemKind::Synth, synth};
    const std::string cleaned = CleanResetText(settings.resetText);
    if (const std::optional<ResetTextError> error = CheckResetText(cleaned))
        return {false, error->message, item, error->start, error->length};
    Synthesizer& entry = synths_.at(synth);
    entry.name = ClipText(settings.name, SynthNameLength);
    // Bits this dialog does not show are kept as they were.
    entry.technology = (entry.technology & ~(ResetBits | TechCc0Only)) | (settings.resetBits & ResetBits) |
                       (settings.cc0Only ? TechCc0Only : 0);
    entry.resetSysex = cleaned;
    changed_[synth] = true;
    return {true, {}, item};
}

std::string SynthEditorModel::RemovalQuestion(const SynthItem& item) const
{
    const std::string text = ItemText(item);
    const std::string ask = "Are you sure that you want to delete ";
    switch (item.kind) {
    case SynthItemKind::Synth:
        return ask + "Synth: " + text;
    case SynthItemKind::Bank:
        return ask + text;
    case SynthItemKind::Patch:
        return ask + "Patch " + text;
    case SynthItemKind::DrumSet:
        return ask + "Drumset " + text;
    case SynthItemKind::Note:
        return ask + "Note " + text;
    case SynthItemKind::Controller:
        return ask + "CC " + text;
    case SynthItemKind::Nrpn:
        return ask + "NRPN " + text;
    default:
        return {};
    }
}

bool SynthEditorModel::Remove(const SynthItem& item, Prompter& prompter)
{
    const std::string question = RemovalQuestion(item);
    if (question.empty() || !prompter.Ask(question, PromptButtons::YesNo, PromptIcon::Question))
        return false;
    Erase(item);
    return true;
}

void SynthEditorModel::CancelInsert(const SynthItem& item)
{
    Erase(item);
}

void SynthEditorModel::Erase(const SynthItem& item)
{
    Synthesizer& synth = synths_.at(item.synth);
    auto erase = [](auto& entries, int index) { entries.erase(entries.begin() + index); };
    switch (item.kind) {
    case SynthItemKind::Synth:
        if (synth.number > 0)
            removed_.push_back(synth.number);
        synths_.erase(synths_.begin() + item.synth);
        changed_.erase(changed_.begin() + item.synth);
        return;
    case SynthItemKind::Bank:
        erase(synth.banks, item.group);
        break;
    case SynthItemKind::Patch:
        erase(synth.banks.at(item.group).patches, item.entry);
        break;
    case SynthItemKind::DrumSet:
        erase(synth.drumSets, item.group);
        break;
    case SynthItemKind::Note:
        erase(synth.drumSets.at(item.group).notes, item.entry);
        break;
    case SynthItemKind::Controller:
        erase(synth.controllers, item.entry);
        break;
    case SynthItemKind::Nrpn:
        erase(synth.nrpns, item.entry);
        break;
    default:
        return;
    }
    changed_[item.synth] = true;
}

std::vector<std::string> SynthEditorModel::Import(const std::vector<std::string>& paths)
{
    std::vector<std::string> messages;
    for (const std::string& path : paths) {
        std::string error;
        std::optional<SynthImport> read = ImportSynthFile(path, error);
        if (!read) {
            messages.push_back(error);
            continue;
        }
        for (const std::string& message : read->messages)
            messages.push_back(path + ": " + message);
        synths_.push_back(std::move(read->synth));
        changed_.push_back(true);
    }
    return messages;
}

SynthDbResult SynthEditorModel::WriteBack(SynthDatabase& database)
{
    std::vector<Synthesizer*> changed;
    for (size_t i = 0; i < synths_.size(); ++i)
        if (changed_[i])
            changed.push_back(&synths_[i]);
    SynthDbResult result = database.ApplyChanges(removed_, changed);
    if (result) {
        removed_.clear();
        changed_.assign(synths_.size(), false);
    }
    return result;
}

bool SynthEditorModel::Changed() const
{
    return !removed_.empty() || std::find(changed_.begin(), changed_.end(), true) != changed_.end();
}

} // namespace cantivo
