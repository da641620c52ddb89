#pragma once

#include "synthdb/SynthDatabase.h"
#include "synthdb/Synthesizer.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

class Prompter;

enum class SynthItemKind {
    Synth,
    PatchesGroup,
    DrumsetsGroup,
    ControllersGroup,
    NrpnGroup,
    Bank,
    Patch,
    DrumSet,
    Note,
    Controller,
    Nrpn
};

// An item of the editor's tree by position: the synth, the bank or drum set within it, the entry within
// that (or within the controller or NRPN list).
struct SynthItem {
    SynthItemKind kind = SynthItemKind::Synth;
    int synth = 0;
    int group = -1;
    int entry = -1;
    bool operator==(const SynthItem&) const = default;
};

// The numbers an edit dialog accepts, as the user types them.
struct NumberRange {
    int32_t low = 0;
    int32_t high = 0;
};

// An edit the editor refused keeps the dialog open with `message`; `item` is where the edited item
// stands afterwards (siblings stay in number order).
struct [[nodiscard]] SynthEditResult {
    bool ok = true;
    std::string message;
    SynthItem item;
    // The part of the reset text to select when it is refused.
    size_t selectStart = 0;
    size_t selectLength = 0;
    explicit operator bool() const { return ok; }
};

// The fields of "Edit synth...".
struct SynthSettings {
    std::string name; // at most 48 characters
    bool cc0Only = false;
    int32_t resetBits = 0; // TechGmReset to TechUserReset
    std::string resetText;
};

// The model of the "Synth database..." dialog: a copy of every synthesizer to edit as a tree; OK writes
// it back, Cancel drops the model.
class SynthEditorModel {
  public:
    // Takes every synthesizer of the database.
    void Load(SynthDatabase& database);

    const std::vector<Synthesizer>& Synths() const { return synths_; }
    std::vector<SynthItem> Children(const SynthItem& parent) const;
    std::vector<SynthItem> Roots() const;
    std::string ItemText(const SynthItem& item) const;
    // "Synth database [" + name + "] ...", or "Synth database..." with nothing selected.
    std::string Title(const std::optional<SynthItem>& selected) const;
    // The context menu of an item; with nothing selected only "Import synth".
    std::vector<std::string> MenuItems(const std::optional<SynthItem>& selected) const;

    // New items, to be edited at once; an item whose number is never given is not stored.
    SynthItem InsertBank(int synth);
    SynthItem InsertPatch(int synth, int bank);
    SynthItem InsertDrumSet(int synth);
    SynthItem InsertNote(int synth, int drumSet);
    SynthItem InsertController(int synth);
    SynthItem InsertNrpn(int synth);

    // The range of the number field of the item's edit dialog: "Edit Bank Name" 0-16383 (0-127 with
    // "CC0 only"), "Edit Patch Name" 1-128, "Edit Drumset Name" the bank as for banks and the program
    // 1-128, "Edit Drumset Note Name" and "Edit CC Name" 0-127, "Edit NRPN Name" 0-16383.
    NumberRange Range(const SynthItem& item) const;
    // The number the dialog shows: a bank's MSB with "CC0 only", a patch counted from 1, others as stored.
    std::optional<int32_t> ShownNumber(const SynthItem& item) const;

    // The edit dialogs' OK, with the numbers as typed.
    SynthEditResult EditBank(const SynthItem& item, int32_t number, const std::string& name);
    SynthEditResult EditPatch(const SynthItem& item, int32_t shownNumber, const std::string& name,
                              const std::string& category);
    SynthEditResult EditDrumSet(const SynthItem& item, int32_t bank, int32_t shownProgram, const std::string& name);
    SynthEditResult EditNote(const SynthItem& item, int32_t number, const std::string& name);
    SynthEditResult EditController(const SynthItem& item, int32_t number, const std::string& name);
    SynthEditResult EditNrpn(const SynthItem& item, int32_t number, const std::string& name);

    SynthSettings Settings(int synth) const;
    // "Edit synth..." OK: refuses a reset text with a byte it may not send.
    SynthEditResult EditSynth(int synth, const SynthSettings& settings);

    // The edit dialog of a just inserted item was cancelled: the item goes without a question.
    void CancelInsert(const SynthItem& item);

    std::string RemovalQuestion(const SynthItem& item) const;
    // Asks the removal question; removes the item (with everything below it) on Yes.
    bool Remove(const SynthItem& item, Prompter& prompter);

    // Adds each file as a new synthesizer; the messages name the files skipped and the lines not used.
    std::vector<std::string> Import(const std::vector<std::string>& paths);

    // OK: deletes the removed synths' rows from every table and stores the changed ones.
    SynthDbResult WriteBack(SynthDatabase& database);
    bool Changed() const;

  private:
    void Erase(const SynthItem& item);
    SynthEditResult Refuse(const SynthItem& item, const std::string& message) const;
    SynthEditResult CheckNumber(const SynthItem& item, int32_t shown) const;

    std::vector<Synthesizer> synths_;
    std::vector<bool> changed_;
    std::vector<int32_t> removed_;
};

} // namespace cantivo
