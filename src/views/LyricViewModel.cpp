#include "views/LyricViewModel.h"

#include "song/PositionText.h"
#include "song/Song.h"
#include "song/TextEncoding.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>

namespace cantivo {
namespace {

constexpr uint8_t MetaText = 1;
constexpr uint8_t MetaLyric = 5;
constexpr int Margin = 8;
constexpr int BallArc = 42;
constexpr int64_t BeforeFirstSyllable = -100000;

// The font, alignment and highlight in force while the syllables are read.
struct LyricStyle {
    LyricFont font;
    LyricAlign alignment = LyricAlign::Automatic;
    bool highlight = true;
    bool keep = false;
};

void ApplyFontChange(LyricStyle& style, const LyricFontChange& change, const LyricFont& base)
{
    if (change.defaults)
        style = LyricStyle{base};
    if (change.face)
        style.font.face = *change.face;
    if (change.height)
        style.font.height = *change.height;
    if (change.bold)
        style.font.weight = *change.bold ? 700 : 400;
    if (change.italic)
        style.font.italic = *change.italic;
    if (change.underline)
        style.font.underline = *change.underline;
    if (change.highlight)
        style.highlight = *change.highlight;
    if (change.alignment)
        style.alignment = *change.alignment;
    style.keep = change.keep;
}

bool IsOrdinaryTrack(const Song& song, int track)
{
    return track >= 1 && track < static_cast<int>(song.tracks.size()) - 1 && !song.tracks[track]->IsAudio();
}

bool HoldsLyrics(const Song& song, int track)
{
    if (track < 0 || track >= static_cast<int>(song.tracks.size()) || song.tracks[track]->IsAudio())
        return false;
    for (const SongEvent& event : song.tracks[track]->events)
        if (event.IsMeta() && event.Data1() == MetaLyric)
            return true;
    return false;
}

std::string_view EventText(const SongEvent& event)
{
    if (event.Data() == nullptr || event.length <= 0)
        return {};
    const size_t size = std::min(static_cast<size_t>(event.length), event.DataSize());
    return {reinterpret_cast<const char*>(event.Data()), size};
}

double BallCentre(const LyricRect& rect)
{
    return rect.left + (rect.right - rect.left) / 2 - LyricBallSize / 2;
}

} // namespace

LyricRect LyricRect::United(const LyricRect& other) const
{
    // The all-zero rect stands for none.
    if (*this == LyricRect{})
        return other;
    if (other == LyricRect{})
        return *this;
    return {std::min(left, other.left), std::min(top, other.top), std::max(right, other.right),
            std::max(bottom, other.bottom)};
}

int LyricViewModel::ChooseTrack(const Song& song, int firstSelected, int current)
{
    const int candidate = firstSelected >= 0 ? firstSelected : current;
    if (IsOrdinaryTrack(song, candidate) && (HoldsLyrics(song, candidate) || firstSelected >= 0))
        return candidate;
    // A karaoke file keeps its words in a track of its own, often track 0 of a format 0 file: the
    // singers see them without choosing a track first.
    for (int track = 0; track < static_cast<int>(song.tracks.size()); ++track)
        if (HoldsLyrics(song, track))
            return track;
    return IsOrdinaryTrack(song, candidate) ? candidate : -1;
}

void LyricViewModel::Rebuild(const Song& song, int track)
{
    items_.clear();
    pages_.clear();
    titleLines_.clear();
    title_.clear();
    currentItem_ = -1;
    currentSyllable_ = -1;
    currentPage_ = 0;
    ball_.reset();
    songFolder_ = song.folder;
    track_ = IsOrdinaryTrack(song, track) || HoldsLyrics(song, track) ? track : -1;
    if (track_ < 0)
        return;

    const std::vector<SongEvent>& events = song.tracks[track_]->events;
    std::vector<size_t> order(events.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return events[a].time < events[b].time; });

    const LyricFont base = options_.BaseFont();
    LyricStyle style{base};
    std::vector<LyricItem> syllables;
    for (size_t index : order) {
        const SongEvent& event = events[index];
        if (!event.IsMeta() || (event.Data1() != MetaText && event.Data1() != MetaLyric))
            continue;
        const std::string_view raw = EventText(event);
        if (raw.starts_with("@T")) {
            if (event.time == 0)
                title_ += (title_.empty() ? "" : "\n") + LegacyTextToUtf8(raw.substr(2));
            continue;
        }
        if (raw.starts_with("@L"))
            continue;
        LyricMarkup markup = ParseLyricMarkup(ExpandLyricEscapes(LegacyTextToUtf8(raw), song, options_.macros));
        if ((markup.newPage || markup.newLines > 0) && !style.keep)
            style = LyricStyle{base};
        LyricItem item;
        if (markup.font) {
            ApplyFontChange(style, *markup.font, base);
            item.font = style.font;
        }
        item.time = event.time;
        item.eventIndex = static_cast<int32_t>(index);
        item.text = std::move(markup.text);
        item.alignment = style.alignment;
        item.keepFont = style.keep;
        item.highlight = style.highlight;
        item.drawFont = style.font;
        markup.font.reset();
        item.breaks = std::move(markup);
        syllables.push_back(std::move(item));
    }
    AddFillers(song, syllables);
}

// Fillers keep the ball on the beat through passages without words: on every click of a gap longer
// than two quarters that lies two clicks or more from the syllables on both sides.
void LyricViewModel::AddFillers(const Song& song, const std::vector<LyricItem>& syllables)
{
    if (syllables.empty())
        return;
    const int64_t timebase = std::max<int64_t>(1, song.timebase);
    size_t fillers = 0;
    auto fillGap = [&](int64_t earlier, int64_t later, int64_t gapStart) {
        if (later - gapStart <= 2 * timebase)
            return;
        auto consider = [&](int64_t t, int64_t click) {
            if (t - earlier >= 2 * click && later - t >= 2 * click && fillers < MaxLyricFillers) {
                LyricItem filler;
                filler.time = static_cast<int32_t>(t);
                items_.push_back(std::move(filler));
                ++fillers;
            }
        };
        const int first = song.FindMeasure(static_cast<int32_t>(std::max<int64_t>(earlier, 0)));
        if (first < 0) {
            for (int64_t t = std::max<int64_t>(0, earlier / timebase * timebase); t < later; t += timebase)
                consider(t, timebase);
            return;
        }
        for (size_t m = static_cast<size_t>(first); m < song.measures.size(); ++m) {
            const Measure& measure = song.measures[m];
            const int64_t start = measure.start;
            if (start >= later)
                break;
            const int64_t end =
                m + 1 < song.measures.size() ? song.measures[m + 1].start : std::numeric_limits<int64_t>::max();
            const int64_t click = std::max<int64_t>(1, timebase * measure.clocksPerClick / 24);
            int64_t t = start;
            if (earlier > start)
                t = start + (earlier - start) / click * click;
            for (; t < end && t < later && fillers < MaxLyricFillers; t += click)
                consider(t, click);
        }
    };
    fillGap(BeforeFirstSyllable, syllables.front().time, 0);
    for (size_t i = 0; i < syllables.size(); ++i) {
        items_.push_back(syllables[i]);
        const int64_t next = i + 1 < syllables.size() ? syllables[i + 1].time : song.songEnd;
        fillGap(syllables[i].time, next, syllables[i].time);
    }
}

void LyricViewModel::Layout(int clientWidth, int clientHeight, const TextMeasure& measure)
{
    clientWidth_ = clientWidth;
    clientHeight_ = clientHeight;
    pages_.assign(1, LyricPage{});
    titleLines_.clear();
    const bool ball = options_.Follow() == LyricFollow::BouncingBall;
    const int flight = ball ? LyricBallRoom : 0;
    const LyricFont base = options_.BaseFont();
    lineHeight_ = base.height * 5 / 4 + 4 + flight;
    const int pageTop = ball ? LyricBallRoom + Margin : Margin;
    const int lineLeft = LyricGutterWidth + Margin;

    std::vector<size_t> syllables;
    for (size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].IsFiller())
            syllables.push_back(i);
    std::vector<TextSize> sizes(syllables.size());
    std::vector<bool> startsWord(syllables.size());
    for (size_t k = 0; k < syllables.size(); ++k) {
        const LyricItem& item = items_[syllables[k]];
        sizes[k] = measure.Measure(item.text, item.drawFont);
        startsWord[k] = k == 0 || item.breaks.newWord || item.breaks.newPage || item.breaks.newLines > 0 ||
                        items_[syllables[k - 1]].text.ends_with(' ');
    }

    int page = 0;
    int line = 0;
    int y = pageTop;
    int x = lineLeft;
    int pitch = lineHeight_;
    bool pageHasSyllable = false;
    auto startPage = [&] {
        // A page break on a page with nothing on it yet would only leave an empty page behind.
        if (!pageHasSyllable)
            return;
        ++page;
        ++line;
        pages_.push_back(LyricPage{});
        y = pageTop;
        x = lineLeft;
        pitch = lineHeight_;
        pageHasSyllable = false;
    };
    auto startLine = [&](int count) {
        y += pitch + (count - 1) * lineHeight_;
        x = lineLeft;
        pitch = lineHeight_;
        ++line;
        if (options_.paginate && y + lineHeight_ > clientHeight)
            startPage();
    };

    bool overWide = false;
    for (size_t k = 0; k < syllables.size(); ++k) {
        LyricItem& item = items_[syllables[k]];
        if (item.breaks.newPage)
            startPage();
        if (item.breaks.newLines > 0)
            startLine(item.breaks.newLines);
        const int width = sizes[k].width;
        if (startsWord[k]) {
            int wordWidth = width;
            for (size_t j = k + 1; j < syllables.size() && !startsWord[j]; ++j)
                wordWidth += sizes[j].width;
            if (x > lineLeft && x + wordWidth > clientWidth)
                startLine(1);
            // A word wider than a whole line breaks between its syllables.
            overWide = wordWidth > clientWidth - lineLeft;
        } else if (overWide && x > lineLeft && x + width > clientWidth) {
            startLine(1);
        }
        item.rect = {x, y, x + width, y + sizes[k].height};
        item.line = line;
        item.page = page;
        x += width;
        // A syllable in a larger font than the base one makes its line taller, so lines never overlap.
        pitch = std::max(pitch, item.drawFont.height * 5 / 4 + 4 + flight);
        pageHasSyllable = true;
        if (item.breaks.picture)
            pages_[page].picture = *item.breaks.picture;
    }

    for (int p = 0; p < static_cast<int>(pages_.size()); ++p)
        AlignPage(p, clientWidth, clientHeight);
    PlaceFillers();
    for (LyricPage& entry : pages_)
        entry.firstItem = -1;
    for (size_t i = 0; i < items_.size(); ++i) {
        LyricPage& entry = pages_[items_[i].page];
        if (entry.firstItem < 0)
            entry.firstItem = static_cast<int>(i);
        entry.height = std::max(entry.height, items_[i].rect.bottom);
    }
    for (LyricPage& entry : pages_) {
        entry.firstItem = std::max(entry.firstItem, 0);
        entry.resolvedPicture = ResolvePicture(entry.picture);
    }

    if (!title_.empty()) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = title_.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(title_.substr(start, end - start));
        lines.push_back(title_.substr(start));
        std::vector<TextSize> titleSizes;
        int total = 0;
        for (const std::string& text : lines) {
            titleSizes.push_back(measure.Measure(text, base));
            total += titleSizes.back().height;
        }
        int top = Margin + std::max(0, (3 * lineHeight_ - total) / 2);
        for (size_t i = 0; i < lines.size(); ++i) {
            const int left = LyricGutterWidth + std::max(0, (clientWidth - LyricGutterWidth - titleSizes[i].width) / 2);
            titleLines_.push_back({{left, top, left + titleSizes[i].width, top + titleSizes[i].height}, lines[i]});
            top += titleSizes[i].height;
        }
    }
    currentItem_ = -1;
    currentSyllable_ = -1;
    currentPage_ = 0;
    ball_.reset();
    (void)Follow(position_);
}

void LyricViewModel::AlignPage(int page, int clientWidth, int clientHeight)
{
    const int lineLeft = LyricGutterWidth + Margin;
    for (size_t i = 0; i < items_.size();) {
        if (items_[i].IsFiller() || items_[i].page != page) {
            ++i;
            continue;
        }
        const LyricItem& first = items_[i];
        size_t end = i;
        int lineRight = first.rect.right;
        for (size_t j = i; j < items_.size() && (items_[j].IsFiller() || items_[j].line == first.line); ++j) {
            if (!items_[j].IsFiller()) {
                lineRight = items_[j].rect.right;
                end = j;
            }
        }
        const int free = std::max(0, clientWidth - LyricGutterWidth - (lineRight - lineLeft) - 2 * Margin);
        int shift = 0;
        switch (first.alignment) {
        case LyricAlign::Right:
            shift = free;
            break;
        case LyricAlign::Centre:
            shift = free / 2;
            break;
        case LyricAlign::Automatic:
            shift = options_.center ? free / 2 : 0;
            break;
        case LyricAlign::Left:
            break;
        }
        for (size_t j = i; j <= end; ++j) {
            if (!items_[j].IsFiller()) {
                items_[j].rect.left += shift;
                items_[j].rect.right += shift;
            }
        }
        i = end + 1;
    }
    if (!options_.center)
        return;
    int bottom = 0;
    for (const LyricItem& item : items_)
        if (!item.IsFiller() && item.page == page)
            bottom = std::max(bottom, item.rect.bottom);
    const int free = clientHeight - bottom;
    if (free < 2)
        return;
    for (LyricItem& item : items_) {
        if (!item.IsFiller() && item.page == page) {
            item.rect.top += free / 2;
            item.rect.bottom += free / 2;
        }
    }
}

// A filler takes the place of the syllable before it, so the ball bounces there; before the first
// syllable it sits at the start of the first line.
void LyricViewModel::PlaceFillers()
{
    const auto firstSyllable =
        std::find_if(items_.begin(), items_.end(), [](const LyricItem& i) { return !i.IsFiller(); });
    const LyricItem* previous = nullptr;
    for (LyricItem& item : items_) {
        if (!item.IsFiller()) {
            previous = &item;
            continue;
        }
        if (previous != nullptr) {
            item.rect = previous->rect;
            item.line = previous->line;
            item.page = previous->page;
        } else if (firstSyllable != items_.end()) {
            item.rect = {firstSyllable->rect.left, firstSyllable->rect.top, firstSyllable->rect.left,
                         firstSyllable->rect.bottom};
            item.line = firstSyllable->line;
            item.page = firstSyllable->page;
        }
    }
}

std::string LyricViewModel::ResolvePicture(const std::string& picture) const
{
    namespace fs = std::filesystem;
    auto isFile = [](const fs::path& path) {
        std::error_code ignored;
        return fs::is_regular_file(path, ignored);
    };
    if (picture.empty())
        return !options_.gfxPath.empty() && isFile(options_.gfxPath) ? options_.gfxPath : std::string();
    // Songs written on other systems name their pictures with backslashes.
    std::string path = picture;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (isFile(path))
        return path;
    if (!songFolder_.empty() && isFile(fs::path(songFolder_) / path))
        return (fs::path(songFolder_) / path).string();
    if (!options_.gfxPath.empty()) {
        const fs::path beside = fs::path(options_.gfxPath).parent_path() / path;
        if (isFile(beside))
            return beside.string();
    }
    return {};
}

LyricUpdate LyricViewModel::Follow(int32_t position)
{
    const std::optional<LyricRect> oldBall = ball_;
    const int oldItem = currentItem_;
    const int oldPage = currentPage_;
    const LyricRect oldHighlight = HighlightExtent();
    position_ = position;
    const auto after = std::upper_bound(items_.begin(), items_.end(), position,
                                        [](int32_t tick, const LyricItem& item) { return tick < item.time; });
    currentItem_ = static_cast<int>(after - items_.begin()) - 1;
    currentSyllable_ = currentItem_;
    while (currentSyllable_ >= 0 && items_[currentSyllable_].IsFiller())
        --currentSyllable_;
    currentPage_ = 0;
    for (int p = 0; p < static_cast<int>(pages_.size()); ++p)
        if (pages_[p].firstItem <= currentItem_)
            currentPage_ = p;
    ball_ = BallAt(position);

    LyricUpdate update;
    update.pageChanged = currentPage_ != oldPage;
    update.itemChanged = currentItem_ != oldItem;
    if (options_.Follow() == LyricFollow::BouncingBall) {
        if (ball_ != oldBall) {
            update.repaint = oldBall.value_or(LyricRect{}).United(ball_.value_or(LyricRect{}));
        }
    } else if (update.itemChanged) {
        update.repaint = oldHighlight.United(HighlightExtent());
    }
    return update;
}

std::optional<LyricRect> LyricViewModel::BallAt(int32_t position) const
{
    if (items_.empty())
        return std::nullopt;
    double x = 0.0;
    double y = 0.0;
    // Before the first item and after the last the ball rests on it.
    if (currentItem_ < 0 || currentItem_ + 1 >= static_cast<int>(items_.size())) {
        const LyricRect& rect = items_[std::max(currentItem_, 0)].rect;
        x = BallCentre(rect);
        y = rect.top - LyricBallRoom + BallArc;
    } else {
        const LyricItem& from = items_[currentItem_];
        const LyricItem& to = items_[currentItem_ + 1];
        const double f = std::clamp(static_cast<double>(position - from.time) / (to.time - from.time), 0.0, 1.0);
        const double arc = BallArc * (1 - 2 * f) * (1 - 2 * f);
        x = BallCentre(from.rect);
        y = from.rect.top - LyricBallRoom + arc;
        if (to.page == from.page) {
            x += (BallCentre(to.rect) - BallCentre(from.rect)) * f;
            y += (to.rect.top - from.rect.top) * f;
        }
    }
    const int left = static_cast<int>(std::lround(x));
    const int top = static_cast<int>(std::lround(y));
    return LyricRect{left, top, left + LyricBallSize, top + LyricBallSize};
}

bool LyricViewModel::Highlighted(int item) const
{
    const int current = currentSyllable_;
    if (current < 0 || !items_[item].highlight)
        return false;
    switch (options_.Follow()) {
    case LyricFollow::HighlightSyllables:
        return item == current;
    case LyricFollow::HighlightLines:
        return items_[item].line == items_[current].line;
    case LyricFollow::ObjectGrid:
        return item == current;
    case LyricFollow::BouncingBall:
        return false;
    }
    return false;
}

LyricRect LyricViewModel::HighlightExtent() const
{
    LyricRect extent;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i)
        if (!items_[i].IsFiller() && items_[i].page == currentPage_ && Highlighted(i))
            extent = extent.United(items_[i].rect);
    return extent;
}

LyricFrame LyricViewModel::Frame(const Song& song) const
{
    LyricFrame frame;
    frame.background = options_.backcolor;
    const LyricPage* page = currentPage_ < static_cast<int>(pages_.size()) ? &pages_[currentPage_] : nullptr;
    if (options_.graphic && page != nullptr) {
        frame.picture = page->resolvedPicture;
        frame.pictureMode = options_.PictureMode();
    }
    frame.pageHeight = page != nullptr ? page->height : 0;
    frame.gutter = {0, 0, LyricGutterWidth, std::max(clientHeight_, frame.pageHeight)};
    if (currentPage_ == 0)
        frame.title = titleLines_;
    frame.titleFont = options_.BaseFont();
    frame.titleColour = options_.color;

    const LyricFollow follow = options_.Follow();
    const bool fills = options_.backcolor2 != options_.backcolor;
    const std::vector<SongEvent>* events =
        track_ >= 0 && track_ < static_cast<int>(song.tracks.size()) ? &song.tracks[track_]->events : nullptr;
    int labelledLine = -1;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
        const LyricItem& item = items_[i];
        if (item.IsFiller() || item.page != currentPage_)
            continue;
        if (item.line != labelledLine) {
            labelledLine = item.line;
            std::string label = PositionText(song, item.time);
            label = label.substr(0, label.find(':'));
            if (!label.empty())
                frame.measureLabels.push_back({{0, item.rect.top, LyricGutterWidth, item.rect.bottom}, label + ":"});
        }
        const bool selected = events != nullptr && item.eventIndex < static_cast<int>(events->size()) &&
                              (*events)[item.eventIndex].selectionMark == song.selectionGeneration;
        LyricPaintItem paint{i, item.rect, item.text, item.drawFont, options_.color, std::nullopt, false, 0};
        if ((selected && item.pendingSelection >= 0) || item.pendingSelection > 0)
            paint.textColour = LyricSelectedColour;
        if (Highlighted(i)) {
            if (follow != LyricFollow::ObjectGrid)
                paint.textColour = options_.color2;
            if (fills)
                paint.fill = options_.backcolor2;
        }
        if (follow == LyricFollow::ObjectGrid) {
            paint.edge = true;
            paint.inset = 2;
        }
        frame.items.push_back(std::move(paint));
    }
    if (follow == LyricFollow::BouncingBall)
        frame.ball = ball_;
    return frame;
}

int LyricViewModel::ItemAt(int x, int y) const
{
    for (int i = 0; i < static_cast<int>(items_.size()); ++i)
        if (!items_[i].IsFiller() && items_[i].page == currentPage_ && items_[i].rect.Contains(x, y))
            return i;
    return -1;
}

std::vector<int32_t> LyricViewModel::MarkPending(const LyricRect& band, int sign)
{
    std::vector<int32_t> events;
    for (LyricItem& item : items_) {
        const bool touched = !item.IsFiller() && item.page == currentPage_ && item.rect.Intersects(band);
        item.pendingSelection = touched ? sign : 0;
        if (touched)
            events.push_back(item.eventIndex);
    }
    return events;
}

std::string LyricViewModel::PrintText() const
{
    std::string text;
    const LyricItem* previous = nullptr;
    for (const LyricItem& item : items_) {
        if (item.IsFiller())
            continue;
        if (previous != nullptr) {
            const int breaks = item.breaks.newPage ? 1 : item.breaks.newLines;
            if (breaks > 0) {
                while (text.ends_with(' '))
                    text.pop_back();
                text.append(static_cast<size_t>(std::min(breaks, 2)), '\n');
            } else if (item.breaks.newWord && !previous->text.ends_with(' ') && !item.text.starts_with(' '))
                text += ' ';
        }
        text += item.text;
        previous = &item;
    }
    return text;
}

void LyricViewModel::ClearPending()
{
    for (LyricItem& item : items_)
        item.pendingSelection = 0;
}

} // namespace cantivo
