#include "song/Song.h"

#include <algorithm>

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

void Song::AddObserver(SongObserver* observer) { observers_.push_back(observer); }

void Song::RemoveObserver(SongObserver* observer) { std::erase(observers_, observer); }

void Song::RefreshViews()
{
    // Copy first: an observer may detach itself while being told.
    const std::vector<SongObserver*> observers = observers_;
    for (SongObserver* observer : observers)
        observer->OnSongRefresh(*this);
}

void Song::SetModifiedFlag(bool flag)
{
    modified_ = flag;
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

// ---- to be filled in: measures, positions, grid, cues, clip names, timebase ----
void Song::NewSongDefaults() {}
int Song::FindMeasure(int32_t) const { return measures.empty() ? -1 : 0; }
int Song::FormatPosition(int32_t, std::string&) const { return -1; }
int Song::UpdateResolutionClass() { return 1; }
int32_t Song::GridTicks(int) const { return timebase; }
int Song::FindCue(int32_t) const { return 0; }
std::string Song::NewClipFileName(const std::string&) const { return {}; }
void Song::RelayMeasures() {}
void Song::ExtendMeasures() {}
void Song::SetTimebase(uint16_t) {}

} // namespace cantivo
