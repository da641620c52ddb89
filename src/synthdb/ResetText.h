#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

// The user reset text as the "Edit synth..." dialog keeps it: line breaks become spaces, runs of spaces
// one space, no space at either end.
std::string CleanResetText(const std::string& text);

// A token of the user reset text that is not a byte the reset may send.
struct ResetTextError {
    std::string message; // the token + " is not a valid hex byte (00-7F).  Enter data like 00 4F 22... etc."
    size_t start = 0;    // where the token stands in the cleaned text, to select it
    size_t length = 0;
};

// Checks a cleaned user reset text: every token two upper-case hexadecimal digits of at most 7F, except
// F0 as the first byte and F7 as the last. An empty text passes.
[[nodiscard]] std::optional<ResetTextError> CheckResetText(const std::string& cleaned);

} // namespace cantivo
