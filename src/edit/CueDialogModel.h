#pragma once

#include "song/Cue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cantivo {

class Song;

// What OK gives: the cue to store, or why it was refused (the dialog then stays open as it was).
struct [[nodiscard]] CueDialogResult {
    std::optional<Cue> cue;
    std::string error;
};

// The cue dialog's fields and rules, without widgets: the desktop dialog binds its controls to this.
// Positions are ticks of the song the model was opened on; the song must outlive the model.
class CueDialogModel {
  public:
    // Insertion: a "Marker" spanning the song's time selection, or at the song position without one.
    static CueDialogModel ForInsertion(const Song& song);
    // Properties: the fields show the cue; OK gives it back changed (its other members kept).
    static CueDialogModel ForProperties(const Song& song, const Cue& cue);

    // The kind names as the "Type:" list shows them; the index is the kind.
    static std::array<const char*, CueKindCount> KindNames();

    const char* Title() const { return insertion_ ? "Insert cue..." : "Cue properties..."; }

    int32_t Kind() const { return cue_.kind; }
    // Changing the type may swap the two times into the order the new kind wants.
    [[nodiscard]] bool SetKind(int32_t kind, std::string& error);

    const std::string& Label() const { return cue_.label; }
    // Any text is kept as typed; OK refuses a label too long to store.
    void SetLabel(std::string label) { cue_.label = std::move(label); }

    int32_t Count() const { return cue_.count; }
    // 0 or more; 0 makes a vamp repeat until released.
    [[nodiscard]] bool SetCount(int32_t count, std::string& error);

    int32_t StopAt() const { return cue_.stopAt; }
    int32_t RestartAt() const { return cue_.restartAt; }
    [[nodiscard]] bool SetStopAt(int32_t tick, std::string& error);
    [[nodiscard]] bool SetRestartAt(int32_t tick, std::string& error);

    // The times as measure:beat:tick; a bad text leaves the field as it was and says why.
    std::string StopAtText() const;
    std::string RestartAtText() const;
    [[nodiscard]] bool SetStopAtText(std::string_view text, std::string& error);
    [[nodiscard]] bool SetRestartAtText(std::string_view text, std::string& error);

    bool CountEnabled() const;
    bool RestartAtEnabled() const { return cue_.kind != CueMarker; }

    // OK: checks the fields against the kind and gives the cue to store; the fields stay unchanged.
    CueDialogResult Accept() const;

  private:
    CueDialogModel(const Song& song, const Cue& cue, bool insertion);
    void OrderTimes();

    const Song* song_;
    Cue cue_;
    bool insertion_;
};

} // namespace cantivo
