#include "song/Song.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>

namespace cantivo {

Song::Song(const SongContext& context) : context_(context)
{
    selectionGeneration = context_.clock->Milliseconds();
}

Song::~Song() = default;

void Song::Clear()
{
    tracks.clear();
    cues.clear();
    measures.clear();
    tempoMap.entries.assign(1, TempoChange{});
    title.clear();
    subtitle.clear();
    author.clear();
    copyright.clear();
    memo.clear();
    smpteOffset = SmpteOffset{};
    songEnd = 0;
    measureTableEnd = 0;
    songLength = 0.0;
    currentPosition = 0;
    selectionStart = selectionEnd = -1;
    loaded = false;
}

void Song::AddObserver(SongObserver* observer)
{
    if (observer && !IsObserving(observer))
        observers_.push_back(observer);
}

void Song::RemoveObserver(SongObserver* observer)
{
    std::erase(observers_, observer);
}

bool Song::IsObserving(const SongObserver* observer) const
{
    return std::find(observers_.begin(), observers_.end(), observer) != observers_.end();
}

void Song::RefreshViews()
{
    // Walk a copy: an observer may attach or detach observers while being told. One that was
    // detached meanwhile may already be gone, so each is checked again before it is called.
    const std::vector<SongObserver*> observers = observers_;
    for (SongObserver* observer : observers)
        if (IsObserving(observer))
            observer->OnSongRefresh(*this);
}

void Song::SetModifiedFlag(bool flag)
{
    modified_ = flag;
    const std::vector<SongObserver*> observers = observers_;
    for (SongObserver* observer : observers)
        if (IsObserving(observer))
            observer->OnSongModifiedFlag(*this);
}

void Song::SetPathName(const std::string& path)
{
    pathName = path;
    const size_t slash = path.find_last_of("/\\");
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    if (!loaded) {
        std::string fileTitle = slash == std::string::npos ? path : path.substr(slash + 1);
        const size_t dot = fileTitle.find_last_of('.');
        if (dot != std::string::npos && dot > 0)
            fileTitle.erase(dot);
        title = fileTitle;
    }
}

namespace {

// MIDI divisions in ticks per quarter note stop at 0x7FFF (the top bit selects time-code division).
constexpr int32_t DefaultTimebase = 120;
constexpr int32_t MaxTimebase = 0x7FFF;
// A song end far out (from a damaged file) must not grow the measure table without bound.
constexpr size_t MaxMeasures = size_t{1} << 20;

// x × new ÷ old rounded half up, in 64 bits and kept within 32 bits; negative values are rounded
// symmetrically so that a negative time offset keeps its size.
int32_t ScaleTicks(int32_t value, int32_t newTimebase, int32_t oldTimebase)
{
    const int64_t magnitude = value < 0 ? -int64_t{value} : int64_t{value};
    int64_t scaled = (magnitude * newTimebase + oldTimebase / 2) / oldTimebase;
    if (value < 0)
        scaled = -scaled;
    return static_cast<int32_t>(std::clamp<int64_t>(scaled, INT32_MIN, INT32_MAX));
}

int ResolutionClassFor(int32_t timebase)
{
    if (timebase % 120 == 0)
        return 0;
    if (timebase % 96 == 0)
        return 1;
    if (timebase % 72 == 0)
        return 2;
    return 3;
}

// Divisors of the timebase for the note-resolution index 0-8, by resolution class.
constexpr int GridDivisors[4][9] = {
    {1, 2, 4, 8, 12, 24, 40, 60, 120},
    {1, 2, 4, 8, 12, 24, 48, 64, 96},
    {1, 2, 4, 8, 12, 24, 36, 72, 108},
    {1, 2, 4, 8, 12, 24, 56, 84, 168},
};

Measure FirstMeasure(int32_t timebase)
{
    Measure first; // 4/4, C major, 24 clocks per click, 8 thirty-seconds per quarter
    first.start = 0;
    first.number = 1;
    first.length = Measure::LengthFor(timebase, first.denominator, first.numerator);
    return first;
}

} // namespace

void Song::NewSongDefaults()
{
    loaded = true;
    Profile& profile = *context_.profile;
    int32_t base = profile.GetInt("SongDefaults", "Timebase", DefaultTimebase);
    // A stored value that no MIDI file could carry would break every conversion.
    if (base <= 0 || base > MaxTimebase)
        base = DefaultTimebase;
    timebase = static_cast<uint16_t>(base);
    songEnd = measureTableEnd = base * 4;
    fileFormat = 1;
    UpdateResolutionClass();

    author = profile.GetString("SongDefaults", "Author", "");
    copyright = profile.GetString("SongDefaults", "Copyright", "");
    memo = profile.GetString("SongDefaults", "Memo", "");
    subtitle = profile.GetString("SongDefaults", "SubTitle", "");

    measures.assign(1, FirstMeasure(base));
    tempoMap.entries.assign(1, TempoChange{0, DefaultMicrosecondsPerQuarter, 0.0});
    cues.clear();
    tracks.clear();
    tracks.push_back(std::make_unique<Track>());
    tracks.push_back(std::make_unique<Track>());

    UpdateSongEnd(AllTracks);
}

int Song::FindMeasure(int32_t tick) const
{
    if (measures.empty())
        return -1;
    // A binary search with no state: the play thread and the UI may look up positions at once.
    const auto after = std::upper_bound(measures.begin(), measures.end(), tick,
                                        [](int32_t t, const Measure& measure) { return t < measure.start; });
    return std::max(0, static_cast<int>(after - measures.begin()) - 1);
}

int Song::FormatPosition(int32_t tick, std::string& text) const
{
    const int index = FindMeasure(tick);
    if (index < 0)
        return -1;
    const Measure& measure = measures[index];
    // A tiny timebase with a short beat unit gives a zero-length beat; count single ticks then.
    const int32_t beatLength = std::max<int32_t>(1, Measure::LengthFor(timebase, measure.denominator, 1));
    const int64_t offset = int64_t{tick} - measure.start;
    const long long beat = static_cast<long long>(offset / beatLength + 1);
    const long long remainder = static_cast<long long>(offset % beatLength);
    const char letter = static_cast<char>(measure.letter & ~0x20);

    char buffer[64];
    if (measure.number != 0 && measure.letter != 0)
        std::snprintf(buffer, sizeof buffer, " %d%c:%lld:%03lld", measure.number, letter, beat, remainder);
    else if (measure.number != 0 || measure.letter == 0) // a measure with neither still shows its 0
        std::snprintf(buffer, sizeof buffer, " %d:%lld:%03lld", measure.number, beat, remainder);
    else
        std::snprintf(buffer, sizeof buffer, " %c:%lld:%03lld", letter, beat, remainder);
    text = buffer;
    return static_cast<int>(text.size());
}

int Song::UpdateResolutionClass()
{
    resolutionClass = ResolutionClassFor(timebase);
    switch (resolutionClass) {
    case 0:
        return timebase / 120;
    case 1:
        return timebase / 96;
    case 2:
        return timebase / 72;
    default:
        return 1;
    }
}

int32_t Song::GridTicks(int noteResolution) const
{
    const int q = std::clamp(noteResolution, 0, 8);
    // Taken from the timebase itself so that a stale class never picks the wrong row. A grid below
    // one tick would make quantizing divide by zero, so it is at least one tick.
    const int divisor = GridDivisors[ResolutionClassFor(timebase)][q];
    return std::max<int32_t>(1, timebase / divisor);
}

int Song::FindCue(int32_t tick) const
{
    const int count = static_cast<int>(cues.size());
    for (int index = 0; index < count; ++index)
        if (cues[index]->AnchorTime() >= tick)
            return index;
    return count;
}

std::string Song::NewClipFileName(const std::string& sourceName, const std::string& songFolder) const
{
    namespace fs = std::filesystem;
    std::string waveFolder = songFolder;
    if (!waveFolder.empty() && waveFolder.back() != '/' && waveFolder.back() != '\\')
        waveFolder += '/';
    waveFolder += "WaveData";
    std::error_code error;
    fs::create_directories(waveFolder, error);
    if (!fs::is_directory(waveFolder, error))
        return {};

    // The extension of the file name proper: a dot in a folder name does not count.
    std::string extension;
    const size_t nameStart = sourceName.find_last_of("/\\");
    const size_t dot = sourceName.find_last_of('.');
    if (dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart))
        extension = sourceName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });

    uint32_t number = context_.clock->Milliseconds();
    // Bounded by the 2^32 names; in practice the first or second one is free.
    for (uint64_t tries = 0; tries <= UINT32_MAX; ++tries, ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "%08x", number);
        std::string candidate = waveFolder + '/' + name;
        if (!extension.empty())
            candidate += '.' + extension;
        // symlink_status: a dangling link still takes the name.
        const fs::file_status status = fs::symlink_status(candidate, error);
        if (status.type() == fs::file_type::not_found)
            return candidate;
        if (status.type() == fs::file_type::none) // the folder cannot be searched
            return {};
    }
    return {};
}

void Song::RelayMeasures()
{
    int64_t start = 0;
    for (Measure& measure : measures) {
        measure.start = static_cast<int32_t>(std::min<int64_t>(start, INT32_MAX));
        measure.length = Measure::LengthFor(timebase, measure.denominator, measure.numerator);
        start += measure.length;
    }
    measureTableEnd = static_cast<int32_t>(std::min<int64_t>(start, INT32_MAX));
}

void Song::ExtendMeasures()
{
    if (measures.empty())
        measures.push_back(FirstMeasure(timebase));
    while (measures.back().start < songEnd && measures.size() < MaxMeasures) {
        const Measure& last = measures.back();
        // A measure without length, or one that would end past the tick range, cannot be followed.
        if (last.length <= 0 || int64_t{last.start} + last.length > INT32_MAX)
            break;
        Measure next = last;
        next.start = last.End();
        next.number = static_cast<uint16_t>(last.number + 1);
        next.letter = 0;
        measures.push_back(next);
    }
    measureTableEnd =
        static_cast<int32_t>(std::min<int64_t>(int64_t{measures.back().start} + measures.back().length, INT32_MAX));
}

void Song::SetTimebase(uint16_t newTimebase)
{
    const int32_t oldBase = timebase;
    const int32_t newBase = newTimebase;
    if (newBase == 0 || newBase > MaxTimebase || newBase == oldBase || oldBase == 0)
        return;
    const auto scale = [&](int32_t value) { return ScaleTicks(value, newBase, oldBase); };

    for (auto& track : tracks) {
        for (SongEvent& event : track->events) {
            event.time = scale(event.time);
            if (event.IsNote())
                event.length = scale(event.length);
        }
        // The offset is in ticks too; left alone it would shift the track by another note value. A file
        // keeps it in 16 bits, so it is clamped here: scaled past them it would read back with its sign
        // flipped (the encoder clamps once more for offsets set elsewhere).
        track->timeOffset = std::clamp(scale(track->timeOffset), -32768, 32767);
    }
    for (auto& cue : cues) {
        cue->stopAt = scale(cue->stopAt);
        cue->restartAt = scale(cue->restartAt);
    }
    for (TempoChange& change : tempoMap.entries)
        change.tick = scale(change.tick);
    // Positions the user holds stay at the same musical place.
    currentPosition = scale(currentPosition);
    if (selectionStart >= 0)
        selectionStart = scale(selectionStart);
    if (selectionEnd >= 0)
        selectionEnd = scale(selectionEnd);
    songEnd = scale(songEnd);

    timebase = static_cast<uint16_t>(newBase);
    RelayMeasures();
    UpdateResolutionClass();
    RecomputeTempoTimes();
    UpdateSongEnd(AllTracks);
    ExtendMeasures();
    SetModifiedFlag(true);
}

} // namespace cantivo
