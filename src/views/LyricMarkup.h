#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cantivo {

class Song;

enum class LyricAlign : int8_t { Automatic = -1, Left = 0, Centre = 1, Right = 2 };
enum class LyricBreak : uint8_t { None, Word, Line, Paragraph, Page };

// What one "{f:...}" directive changes; a field left empty keeps what is in force.
struct LyricFontChange {
    bool defaults = false; // "d": base font, automatic alignment, highlight on, applied before the rest
    std::optional<std::string> face;
    std::optional<int> height;
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<bool> underline;
    std::optional<bool> highlight;
    std::optional<LyricAlign> alignment;
    bool keep = false; // "k": the font outlives the end of its line
    bool operator==(const LyricFontChange&) const = default;
};

// One syllable's text taken apart: its breaks, its directives and what is shown.
struct LyricMarkup {
    bool newPage = false;
    int newLines = 0;     // lines started after the last page break; a paragraph counts two
    bool newWord = false; // the text begins a word: after a break or with a space
    std::optional<std::string> picture;
    std::optional<LyricFontChange> font;
    std::string text; // the visible text; a directive that cannot be read stays in it
};

// Reads a syllable's markup. Never fails: whatever is not markup is text.
LyricMarkup ParseLyricMarkup(std::string_view syllable);

// Replaces the "%" escapes with the song's texts and the macros ("%1" to "%9"); "%%" is one percent
// sign, any other pair is dropped, a lone "%" at the end stays.
std::string ExpandLyricEscapes(std::string_view text, const Song& song, const std::array<std::string, 9>& macros);

// The fields of the "Lyric" edit dialog.
struct LyricEdit {
    LyricBreak breakKind = LyricBreak::None;
    std::string picture; // written only with a page break
    bool useDefaults = false;
    LyricAlign alignment = LyricAlign::Automatic;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool highlight = true;
    std::string face;
    int size = 0; // 0: no size
    bool resetNextLine = true;
    std::string text;
};

struct [[nodiscard]] ComposedLyric {
    bool ok = false;
    std::string markup;
    std::string error;
    explicit operator bool() const { return ok; }
};

// The syllable text the edit dialog writes; refused when a field holds a character the markup cannot carry.
ComposedLyric ComposeLyricMarkup(const LyricEdit& edit);

} // namespace cantivo
