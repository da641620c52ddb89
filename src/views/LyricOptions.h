#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace cantivo {

// Colours are 0x00BBGGRR, red in the low byte, as the settings store them.
inline constexpr uint32_t LyricSelectedColour = 255;
inline constexpr uint32_t LyricGutterColour = 0x5D4959;
inline constexpr uint32_t LyricGutterTextColour = 0x0EF0FF;
// The smallest base font the zoom commands leave: below it the lyrics are unreadable dots.
inline constexpr int MinLyricFontHeight = 8;
inline constexpr int LyricFontZoomStep = 8;

// A font as the lyric view draws it; the height in pixels.
struct LyricFont {
    std::string face = "Times New Roman";
    int height = 24;
    int weight = 400; // 700 is bold
    bool italic = false;
    bool underline = false;
    bool operator==(const LyricFont&) const = default;
};

enum class LyricFollow : int { BouncingBall = 0, HighlightSyllables = 1, HighlightLines = 2, ObjectGrid = 3 };
enum class LyricPictureMode : int { Tiled = 0, Centred = 1, Stretched = 2 };

// The lyric view's settings and the text macros, filled in by the program from its store; the view
// layer never reads the store itself.
struct LyricOptions {
    std::string fontName = "Times New Roman";
    int fontHeight = 24; // may be stored negative; the view uses its size
    int fontWeight = 400;
    uint32_t color = 0;
    uint32_t backcolor = 0xFFFFFF;
    uint32_t color2 = 0;
    uint32_t backcolor2 = 0x00FFFF;
    bool center = false;
    bool paginate = false;
    bool graphic = false;
    int stretch = 0;
    std::string gfxPath;
    int tool = 0;
    std::array<std::string, 9> macros; // "%1" to "%9"

    LyricFont BaseFont() const { return {fontName, std::max(1, std::abs(fontHeight)), fontWeight, false, false}; }
    LyricFollow Follow() const
    {
        return tool >= 0 && tool <= 3 ? static_cast<LyricFollow>(tool) : LyricFollow::BouncingBall;
    }
    LyricPictureMode PictureMode() const
    {
        return stretch >= 0 && stretch <= 2 ? static_cast<LyricPictureMode>(stretch) : LyricPictureMode::Tiled;
    }
};

// The base font height after `steps` zoom commands (negative: smaller), each 8 pixels.
inline int ZoomedLyricFontHeight(int height, int steps)
{
    return std::max(MinLyricFontHeight, std::abs(height) + steps * LyricFontZoomStep);
}
// The status text the zoom commands show.
inline std::string LyricFontSizeStatus(int height)
{
    return "Font size=" + std::to_string(height);
}

} // namespace cantivo
