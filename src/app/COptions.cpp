#include "app/COptions.h"

namespace cantivo {

namespace {

constexpr std::array<const char*, OptionsPageCount> Titles{
    COptionsStartup::Title,   COptionsPlayback::Title, COptionsDisplay::Title, COptionsRecord::Title,
    COptionsStaff::Title,     COptionsAudio::Title,    COptionsSave::Title,    COptionsLyric::Title,
    COptionsConductor::Title, COptionsSet::Title,      COptionsMacros::Title};

constexpr std::array<const char*, OptionsPageCount> Helps{
    COptionsStartup::Help,   COptionsPlayback::Help, COptionsDisplay::Help, COptionsRecord::Help,
    COptionsStaff::Help,     COptionsAudio::Help,    COptionsSave::Help,    COptionsLyric::Help,
    COptionsConductor::Help, COptionsSet::Help,      COptionsMacros::Help};

size_t Index(OptionsPage page)
{
    return static_cast<size_t>(page);
}

OptionsPage PageAt(int index)
{
    return static_cast<OptionsPage>(index);
}

} // namespace

COptions::COptions(const Profile& profile, const OptionsLive& live, OptionsPage open) : active_(open)
{
    if (Index(open) >= OptionsPageCount)
        active_ = OptionsPage::Startup;
    visited_[Index(active_)] = true;
    OptionsReader reader(profile, adjusted_);
    startup.Load(reader);
    playback.Load(reader, live.playback);
    display.Load(live.display);
    record.Load(reader, live.record);
    staff.Load(reader);
    audio.Load(reader);
    save.Load(reader, live.documentsFolder);
    lyric.Load(reader);
    conductor.Load(reader);
    set.Load(reader);
    macros.Load(reader);
}

const char* COptions::PageTitle(OptionsPage page)
{
    return Index(page) < OptionsPageCount ? Titles[Index(page)] : "";
}

const char* COptions::PageHelp(OptionsPage page)
{
    return Index(page) < OptionsPageCount ? Helps[Index(page)] : "";
}

void COptions::SetActivePage(OptionsPage page)
{
    if (Index(page) >= OptionsPageCount)
        return;
    active_ = page;
    visited_[Index(page)] = true;
}

std::string COptions::AdjustedMessage() const
{
    if (adjusted_.empty())
        return "";
    std::string text = "Some stored settings are shown adjusted to what the options allow:";
    for (const AdjustedValue& value : adjusted_)
        text += "\n" + value.section + " " + value.value + ": " + value.stored + " is shown as " + value.shown;
    text += "\nNothing is lost: the stored values change only when you press OK on their page.";
    return text;
}

std::optional<RangeRefusal> COptions::Validate(OptionsPage page) const
{
    switch (page) {
    case OptionsPage::Startup:
        return startup.Validate();
    case OptionsPage::Playback:
        return playback.Validate();
    case OptionsPage::Display:
        return display.Validate();
    case OptionsPage::Record:
        return record.Validate();
    case OptionsPage::Staff:
        return staff.Validate();
    case OptionsPage::Audio:
        return audio.Validate();
    case OptionsPage::Save:
        return save.Validate();
    case OptionsPage::Lyrics:
        return lyric.Validate();
    case OptionsPage::Conductor:
        return conductor.Validate();
    case OptionsPage::Set:
        return set.Validate();
    case OptionsPage::Macros:
        return macros.Validate();
    }
    return std::nullopt;
}

void COptions::Apply(OptionsPage page, Profile& profile) const
{
    switch (page) {
    case OptionsPage::Startup:
        startup.Apply(profile);
        break;
    case OptionsPage::Playback:
        playback.Apply(profile);
        break;
    case OptionsPage::Display:
        display.Apply(profile);
        break;
    case OptionsPage::Record:
        record.Apply(profile);
        break;
    case OptionsPage::Staff:
        staff.Apply(profile);
        break;
    case OptionsPage::Audio:
        audio.Apply(profile);
        break;
    case OptionsPage::Save:
        save.Apply(profile);
        break;
    case OptionsPage::Lyrics:
        lyric.Apply(profile);
        break;
    case OptionsPage::Conductor:
        conductor.Apply(profile);
        break;
    case OptionsPage::Set:
        set.Apply(profile);
        break;
    case OptionsPage::Macros:
        macros.Apply(profile);
        break;
    }
}

OptionsOutcome COptions::Ok(Profile& profile)
{
    OptionsOutcome outcome;
    // Every visited page is checked before anything is written, so a refusal leaves the store as it was.
    for (int i = 0; i < OptionsPageCount; ++i) {
        if (!visited_[static_cast<size_t>(i)])
            continue;
        if (auto refusal = Validate(PageAt(i))) {
            outcome.refusedPage = i;
            outcome.refusal = std::move(refusal);
            SetActivePage(PageAt(i));
            return outcome;
        }
    }
    OptionsWriter writer(profile);
    for (int i = 0; i < OptionsPageCount; ++i) {
        if (!visited_[static_cast<size_t>(i)])
            continue;
        Apply(PageAt(i), writer);
        outcome.applied[static_cast<size_t>(i)] = true;
    }
    outcome.accepted = true;
    outcome.changed = writer.Changed();
    outcome.failed = writer.Failed();
    if (!outcome.failed.empty()) {
        outcome.message = "These settings could not be saved:";
        for (const SettingKey& key : outcome.failed)
            outcome.message += "\n" + key.section + " " + key.value;
        outcome.message += "\nThey apply until the program ends; check that the settings file can be written.";
    }
    return outcome;
}

} // namespace cantivo
