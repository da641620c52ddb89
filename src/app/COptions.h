#pragma once

#include "app/OptionsPages.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

// The pages in tab order; the sheet opens at any of them by this index.
enum class OptionsPage : int {
    Startup,
    Playback,
    Display,
    Record,
    Staff,
    Audio,
    Save,
    Lyrics,
    Conductor,
    Set,
    Macros,
};
constexpr int OptionsPageCount = 11;

// What the program supplies when the sheet opens: the values that live outside the store.
struct OptionsLive {
    PlaybackChoices playback;
    DisplayLive display;
    RecordLive record;
    std::string documentsFolder; // "Path" before one is stored
};

// What OK did. On a refusal nothing is written and the sheet stays open on `refusedPage`.
struct [[nodiscard]] OptionsOutcome {
    bool accepted = false;
    int refusedPage = -1;
    std::optional<RangeRefusal> refusal;
    // The pages written, by index: the program pushes their live settings (click, conductor,
    // sequencer options, autosave timer, display flags, punch, staff size) from the sheet's pages.
    std::array<bool, OptionsPageCount> applied{};
    std::vector<SettingKey> changed; // stored values that OK changed or stored for the first time
    std::vector<SettingKey> failed;  // writes the store refused
    // For the user when a write failed; empty otherwise.
    std::string message;

    bool Applied(OptionsPage page) const { return applied[static_cast<size_t>(page)]; }
};

// The options sheet: built anew for each opening, loaded from the store and the live values. Only the
// pages the user has visited are written on OK; Cancel writes nothing (the sheet is then dropped).
class COptions {
  public:
    static constexpr const char* Title = "Cantivo Options...";

    COptions(const Profile& profile, const OptionsLive& live, OptionsPage open = OptionsPage::Startup);

    static const char* PageTitle(OptionsPage page);
    static const char* PageHelp(OptionsPage page);

    OptionsPage ActivePage() const { return active_; }
    void SetActivePage(OptionsPage page);
    bool Visited(OptionsPage page) const { return visited_[static_cast<size_t>(page)]; }

    // The stored values shown otherwise than stored (out of range, or rounded); they are rewritten only
    // on OK of their page.
    const std::vector<AdjustedValue>& Adjusted() const { return adjusted_; }
    // A sentence for the user about them; empty when there are none.
    std::string AdjustedMessage() const;

    OptionsOutcome Ok(Profile& profile);

    COptionsStartup startup;
    COptionsPlayback playback;
    COptionsDisplay display;
    COptionsRecord record;
    COptionsStaff staff;
    COptionsAudio audio;
    COptionsSave save;
    COptionsLyric lyric;
    COptionsConductor conductor;
    COptionsSet set;
    COptionsMacros macros;

  private:
    std::optional<RangeRefusal> Validate(OptionsPage page) const;
    void Apply(OptionsPage page, Profile& profile) const;

    OptionsPage active_;
    std::array<bool, OptionsPageCount> visited_{};
    std::vector<AdjustedValue> adjusted_;
};

} // namespace cantivo
