#pragma once

#include "views/LyricOptions.h"

#include <string_view>

namespace cantivo {

struct TextSize {
    int width = 0;
    int height = 0;
};

// Measures text as the screen will draw it: the desktop answers from its font metrics, tests from a
// fixed-width fake.
class TextMeasure {
  public:
    virtual ~TextMeasure() = default;
    virtual TextSize Measure(std::string_view text, const LyricFont& font) const = 0;
};

} // namespace cantivo
