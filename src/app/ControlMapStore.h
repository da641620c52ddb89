#pragma once

#include "playback/ControlMap.h"
#include "playback/MidiInPort.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cantivo {

class Profile;

// The control maps in the settings store: one binary value per map under "Keymap", and the "KeyMap"
// section's "Enabled" (default 1) and "UseWhich" (default "MIDI").
class ControlMapStore {
  public:
    static constexpr size_t MaxMaps = 100;     // what the dialog lists
    static constexpr size_t MaxNameBytes = 99; // what a stored map's name reads back as

    explicit ControlMapStore(Profile& profile) : profile_(profile) {}

    bool Enabled() const;
    std::string UseWhich() const;
    // Every stored map, sorted by name (at most 100); a value over 512 bytes reads as an empty map. Names
    // are stored, found and listed cut to 99 bytes, so what is listed is always found again.
    std::vector<ControlMap> Maps() const;
    // The map in use: "UseWhich"; an empty map of that name when none is stored.
    ControlMap ActiveMap() const;
    std::optional<ControlMap> Find(const std::string& name) const;

    // The dialog's OK: every stored map goes, `maps` are written from the last to the first, then
    // "UseWhich" and "Enabled". False with the reason when the store refuses a write.
    [[nodiscard]] bool Save(const std::vector<ControlMap>& maps, const std::string& useWhich, bool enabled,
                            std::string& error);
    // Makes `name` (cut as stored) the map in use, "UseWhich"; it need not be stored yet.
    [[nodiscard]] bool Use(const std::string& name);
    // One map written (added or replaced); the others stay.
    [[nodiscard]] bool Write(const ControlMap& map, std::string& error);

    // "Import control maps...": each map of the file; one whose name is stored is offered to
    // `overwrite` ("Map '%s' already exists.  Overwrite?"), and No skips it. A damaged file (cut short,
    // or a map over 128 entries) is refused whole with the reason in `error`: nothing stored changes.
    // The names imported.
    std::vector<std::string> Import(std::span<const uint8_t> file,
                                    const std::function<bool(const std::string&)>& overwrite, std::string& error);

    // Learning's last step: what an input heard bound to `action` in the map in use, replacing what
    // that trigger did there. Nullopt with the reason when the entry cannot hold it (an input past the
    // sixteenth, note 0, which an entry reads as a controller trigger) or the store refuses.
    std::optional<ControlEntry> Learn(const ControlLearner::Heard& heard, ControlAction action, std::string& error);

  private:
    Profile& profile_;
};

// A map's name as it is stored: cut to 99 bytes, never inside a UTF-8 sequence.
std::string StoredControlMapName(const std::string& name);

// The question asked before an imported map replaces a stored one.
std::string OverwriteQuestion(const std::string& name);

} // namespace cantivo
