#pragma once

#include "views/LyricMarkup.h"
#include "views/LyricOptions.h"
#include "views/TextMeasure.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

class Song;

// The flight room above each line in the bouncing-ball style, and the gutter of measure numbers.
inline constexpr int LyricBallRoom = 50;
inline constexpr int LyricGutterWidth = 50;
inline constexpr int LyricBallSize = 8;
// Fillers stop here: a damaged meter or a huge song end must not turn a gap into millions of beats.
inline constexpr size_t MaxLyricFillers = 100000;

struct LyricRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const LyricRect&) const = default;
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool Intersects(const LyricRect& other) const
    {
        return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
    }
    bool Empty() const { return right <= left || bottom <= top; }
    // The smallest rect holding both; the all-zero rect counts as none.
    LyricRect United(const LyricRect& other) const;
};

struct LyricItem {
    LyricRect rect;           // view coordinates before scrolling, set by the layout
    int32_t time = 0;         // tick
    int32_t eventIndex = -1;  // -1: a filler beat
    int pendingSelection = 0; // +1 / -1 while a rubber band selects / deselects it
    std::string text;
    std::optional<LyricFont> font; // the font its own directive set
    LyricAlign alignment = LyricAlign::Automatic;
    bool keepFont = false;
    bool highlight = true;
    // What the markup and the layout derived:
    LyricFont drawFont; // the font in force for this item
    LyricMarkup breaks; // its breaks and picture (the text lives above)
    int line = -1;
    int page = 0;

    bool IsFiller() const { return eventIndex < 0; }
};

struct LyricPage {
    int firstItem = 0;
    std::string picture;         // as the markup named it; empty when none
    std::string resolvedPicture; // the file found for it (or "GfxPath"); empty when none is there
    int height = 0;              // bottom of its lowest item: the scroll range
};

struct LyricText {
    LyricRect rect;
    std::string text;
};

// One syllable as it is to be painted.
struct LyricPaintItem {
    int item = -1;
    LyricRect rect;
    std::string text;
    LyricFont font;
    uint32_t textColour = 0;
    std::optional<uint32_t> fill;
    bool edge = false;
    int inset = 0; // the text sits this far inside the rect
};

// Everything one paint of the view draws, back to front.
struct LyricFrame {
    uint32_t background = 0xFFFFFF;
    std::string picture; // empty: none
    LyricPictureMode pictureMode = LyricPictureMode::Tiled;
    LyricRect gutter;
    uint32_t gutterColour = LyricGutterColour;
    uint32_t gutterTextColour = LyricGutterTextColour;
    std::vector<LyricText> measureLabels; // drawn in the system's small title font
    std::vector<LyricText> title;         // page 0 only, in the base font
    LyricFont titleFont;
    uint32_t titleColour = 0;
    std::vector<LyricPaintItem> items;
    std::optional<LyricRect> ball;
    int pageHeight = 0;
};

// What a position update changed, so that the view repaints no more than that.
struct LyricUpdate {
    bool pageChanged = false; // repaint everything and scroll to the top
    bool itemChanged = false;
    LyricRect repaint; // the old and new ball or highlight; empty when nothing moved
};

// The lyric view without widgets: the syllables of one track, their lines and pages, and what follows
// the song position. Rebuild on song and track changes, Layout on those and on resizes, Follow on every
// position update, Frame for each paint.
class LyricViewModel {
  public:
    // The lyric track for the track list's first selected track (-1: none) and its current track; -1
    // when neither is an ordinary MIDI track.
    static int ChooseTrack(const Song& song, int firstSelected, int current);

    // Takes new settings; Rebuild and Layout make them show.
    void SetOptions(const LyricOptions& options) { options_ = options; }
    const LyricOptions& Options() const { return options_; }

    // The items, the title and the markup's pages from the song's track (an unfit track clears them).
    void Rebuild(const Song& song, int track);
    // Places the items in a client area of the given size; lines and pages follow from it.
    void Layout(int clientWidth, int clientHeight, const TextMeasure& measure);
    // The current item, page and ball for the song position (a tick); no layout.
    LyricUpdate Follow(int32_t position);
    LyricFrame Frame(const Song& song) const;

    // The syllable of the current page under the point, or -1.
    int ItemAt(int x, int y) const;
    // Marks the syllables of the current page that the band touches with `sign` (+1 select, -1
    // deselect) and clears the others; returns their event indices.
    std::vector<int32_t> MarkPending(const LyricRect& band, int sign);
    void ClearPending();

    // The lyrics as running text for printing: words apart by a space, a line break as "\n", a
    // paragraph as an empty line.
    std::string PrintText() const;

    int Track() const { return track_; }
    const std::vector<LyricItem>& Items() const { return items_; }
    const std::vector<LyricPage>& Pages() const { return pages_; }
    const std::string& Title() const { return title_; }
    int CurrentItem() const { return currentItem_; }
    // The syllable being sung: the current item, or for a filler the syllable it bounces on; -1 before
    // the first.
    int CurrentSyllable() const { return currentSyllable_; }
    int CurrentPage() const { return currentPage_; }
    std::optional<LyricRect> Ball() const { return ball_; }
    int LineHeight() const { return lineHeight_; }

  private:
    void AddFillers(const Song& song, const std::vector<LyricItem>& syllables);
    void PlaceFillers();
    void AlignPage(int page, int clientWidth, int clientHeight);
    std::string ResolvePicture(const std::string& picture) const;
    std::optional<LyricRect> BallAt(int32_t position) const;
    LyricRect HighlightExtent() const;
    bool Highlighted(int item) const;

    LyricOptions options_;
    std::vector<LyricItem> items_;
    std::vector<LyricPage> pages_;
    std::vector<LyricText> titleLines_;
    std::string title_;
    std::string songFolder_;
    int track_ = -1;
    int currentItem_ = -1;
    int currentSyllable_ = -1;
    int currentPage_ = 0;
    int lineHeight_ = 0;
    int clientWidth_ = 0;
    int clientHeight_ = 0;
    int32_t position_ = 0;
    std::optional<LyricRect> ball_;
};

} // namespace cantivo
