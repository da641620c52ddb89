#pragma once

#include "synthdb/Synthesizer.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cantivo {

// What reading a synth data file gave: the synthesizer (its number 0, not yet stored) and, in file
// order, the messages for the unknown sections and for each line that was not used.
struct SynthImport {
    Synthesizer synth;
    std::vector<std::string> messages;
};

// The synthesizer a synth data file describes is named after the file: no folder, no ".txt".
std::string SynthNameFromPath(const std::string& path);

// Reads the text of a synth data file for a synthesizer called `name`. Good lines are kept whatever
// else the text holds.
SynthImport ParseSynthText(const std::string& name, std::string_view text);

// Reads a synth data file; nullopt with `error` set when it cannot be read.
std::optional<SynthImport> ImportSynthFile(const std::string& path, std::string& error);

// The synthesizer as a synth data file: banks, drum sets, controllers, NRPN names; patch and program
// numbers 0-based.
std::string ExportSynthText(const Synthesizer& synth);

// Writes the file so that it is either the old file or the complete new one.
[[nodiscard]] bool ExportSynthFile(const Synthesizer& synth, const std::string& path, std::string& error);

} // namespace cantivo
