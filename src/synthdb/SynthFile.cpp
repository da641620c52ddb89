#include "synthdb/SynthFile.h"

#include "song/AtomicFile.h"
#include "song/TextEncoding.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace cantivo {

namespace {

constexpr size_t MaxLineLength = 255;

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// A decimal number at `position` after any spaces, like the C library's atoi but bounded; nullopt when no
// digit follows. `position` moves past the digits.
std::optional<int64_t> NumberAt(std::string_view text, size_t& position)
{
    while (position < text.size() && text[position] == ' ')
        ++position;
    int64_t value = 0;
    size_t digits = 0;
    while (position < text.size() && std::isdigit(static_cast<unsigned char>(text[position]))) {
        if (value < 1'000'000'000)
            value = value * 10 + (text[position] - '0');
        ++position;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    return value;
}

std::string LineMessage(int line, const std::string& what)
{
    return "Line " + std::to_string(line) + ": " + what;
}

struct BankBuild {
    std::string name;
    std::map<int32_t, std::string> patches;
};
struct DrumBuild {
    std::string name;
    std::map<int32_t, DrumNote> notes;
};

enum class Section { None, Bank, Drum, Controllers, Nrpn, Unknown };

class SynthTextReader {
  public:
    explicit SynthTextReader(std::vector<std::string>& messages) : messages_(messages) {}

    void ReadLine(int number, std::string_view line)
    {
        if (StartsWith(line, "[")) {
            const size_t close = line.find(']');
            ReadHeader(number, line.substr(0, close),
                       close == std::string_view::npos ? line : line.substr(0, close + 1));
        } else if (!std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; }))
            ReadEntry(number, line);
    }

    void Finish(Synthesizer& synth) const
    {
        for (const auto& [bankNumber, bank] : banks_) {
            SynthBank out{bankNumber, bank.name, {}};
            for (const auto& [patch, name] : bank.patches)
                out.patches.push_back({patch, name, {}});
            synth.banks.push_back(std::move(out));
        }
        for (const auto& [key, set] : drumSets_) {
            DrumSet out{key.first, key.second, set.name, {}};
            for (const auto& note : set.notes)
                out.notes.push_back(note.second);
            synth.drumSets.push_back(std::move(out));
        }
        for (const auto& [number, name] : controllers_)
            synth.controllers.push_back({number, name});
        for (const auto& [number, name] : nrpns_)
            synth.nrpns.push_back({number, name});
    }

  private:
    // `header` is cut at the first "]"; `shown` keeps the "]" for the message.
    void ReadHeader(int number, std::string_view header, std::string_view shown)
    {
        section_ = Section::Unknown;
        if (StartsWith(header, "[Bank ")) {
            size_t position = 6;
            const auto bank = NumberAt(header, position);
            const size_t colon = header.find(':', position);
            if (!bank || *bank > MaxBankNumber || colon == std::string_view::npos) {
                messages_.push_back(LineMessage(number, "a bank header needs a bank number from 0 to 16383, \":\" "
                                                        "and a name; the section is skipped."));
                return;
            }
            section_ = Section::Bank;
            bank_ = static_cast<int32_t>(*bank);
            banks_[bank_].name = std::string(Name(header.substr(colon + 1)));
        } else if (StartsWith(header, "[Drum ")) {
            size_t position = 6;
            const auto bank = NumberAt(header, position);
            const bool slash = position < header.size() && header[position] == '/';
            long program = -1; // a plain value: GCC misreads an optional's use after the check here
            if (slash)
                program = NumberAt(header, ++position).value_or(-1);
            const size_t colon = header.find(':', position);
            if (!bank || *bank > MaxBankNumber || program < 0 || program > 127 || colon == std::string_view::npos) {
                messages_.push_back(LineMessage(number, "a drum set header needs a bank number from 0 to 16383, "
                                                        "\"/\", a program number from 0 to 127, \":\" and a "
                                                        "name; the section is skipped."));
                return;
            }
            section_ = Section::Drum;
            drumSet_ = {static_cast<int32_t>(*bank), static_cast<int32_t>(program)};
            drumSets_[drumSet_].name = std::string(Name(header.substr(colon + 1)));
        } else if (header == "[Controllers") {
            section_ = Section::Controllers;
        } else if (header == "[NRPN") {
            section_ = Section::Nrpn;
        } else {
            messages_.push_back("Unknown section type: " + std::string(shown));
        }
    }

    // The name after a header's colon starts after any spaces.
    static std::string_view Name(std::string_view text)
    {
        const size_t start = text.find_first_not_of(' ');
        return start == std::string_view::npos ? std::string_view() : text.substr(start);
    }

    void ReadEntry(int number, std::string_view line)
    {
        if (section_ == Section::Unknown)
            return; // its header was reported
        if (section_ == Section::None) {
            messages_.push_back(LineMessage(number, "this line stands before the first section; it is ignored."));
            return;
        }
        if (section_ == Section::Drum && StartsWith(line, "BasedOn")) {
            ReadBasedOn(number, line);
            return;
        }
        const size_t equals = line.find('=');
        size_t position = 0;
        const auto entry = std::isdigit(static_cast<unsigned char>(line[0])) ? NumberAt(line, position) : std::nullopt;
        if (!entry || equals == std::string_view::npos) {
            messages_.push_back(LineMessage(number, "\"" + std::string(line) +
                                                        "\" is not an entry (a number, \"=\" and a name); it is "
                                                        "ignored."));
            return;
        }
        const std::string name(line.substr(equals + 1));
        const int64_t limit = section_ == Section::Nrpn ? MaxNrpnNumber : 127;
        if (*entry > limit) {
            const char* what = section_ == Section::Bank   ? "patch"
                               : section_ == Section::Drum ? "note"
                               : section_ == Section::Nrpn ? "NRPN"
                                                           : "controller";
            messages_.push_back(LineMessage(number, std::string("the ") + what + " number " + std::to_string(*entry) +
                                                        " is not from 0 to " + std::to_string(limit) +
                                                        "; the line is ignored."));
            return;
        }
        const auto value = static_cast<int32_t>(*entry);
        switch (section_) {
        case Section::Bank:
            banks_[bank_].patches[value] = name;
            break;
        case Section::Drum: {
            DrumNote note{value, name};
            ApplyPercussionNotation(note);
            drumSets_[drumSet_].notes[value] = note;
            break;
        }
        case Section::Controllers:
            controllers_[value] = name;
            break;
        case Section::Nrpn:
            nrpns_[value] = name;
            break;
        default:
            break;
        }
    }

    void ReadBasedOn(int number, std::string_view line)
    {
        const size_t equals = line.find('=');
        // Four characters after the "=" (a word such as "Drum") come before the bank number.
        size_t position = equals == std::string_view::npos ? line.size() : equals + 1 + 4;
        const auto bank = position < line.size() ? NumberAt(line, position) : std::nullopt;
        const bool slash = bank && position < line.size() && line[position] == '/';
        const auto program = slash ? NumberAt(line, ++position) : std::nullopt;
        const auto source = bank && program
                                ? drumSets_.find({static_cast<int32_t>(std::min<int64_t>(*bank, 1 << 20)),
                                                  static_cast<int32_t>(std::min<int64_t>(*program, 1 << 20))})
                                : drumSets_.end();
        if (source == drumSets_.end()) {
            messages_.push_back(LineMessage(number, "\"" + std::string(line) +
                                                        "\" names no drum set (bank/program) read before it; it "
                                                        "is ignored."));
            return;
        }
        if (source->first == drumSet_)
            return;
        for (const auto& [note, value] : source->second.notes)
            drumSets_[drumSet_].notes[note] = value;
    }

    std::vector<std::string>& messages_;
    Section section_ = Section::None;
    int32_t bank_ = 0;
    std::pair<int32_t, int32_t> drumSet_;
    std::map<int32_t, BankBuild> banks_;
    std::map<std::pair<int32_t, int32_t>, DrumBuild> drumSets_;
    std::map<int32_t, std::string> controllers_;
    std::map<int32_t, std::string> nrpns_;
};

} // namespace

std::string SynthNameFromPath(const std::string& path)
{
    // Files may come from Windows, with backslashes.
    std::string name = path.substr(path.find_last_of("/\\") == std::string::npos ? 0 : path.find_last_of("/\\") + 1);
    if (name.size() >= 4) {
        std::string ending = name.substr(name.size() - 4);
        std::transform(ending.begin(), ending.end(), ending.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ending == ".txt")
            name.resize(name.size() - 4);
    }
    return name;
}

SynthImport ParseSynthText(const std::string& name, std::string_view text)
{
    SynthImport result;
    result.synth.name = name;
    const std::string utf8 = LegacyTextToUtf8(text);
    SynthTextReader reader(result.messages);
    size_t start = 0;
    for (int number = 1; start < utf8.size(); ++number) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos)
            end = utf8.size();
        std::string line = utf8.substr(start, end - start);
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        reader.ReadLine(number, ClipText(line, MaxLineLength));
        start = end + 1;
    }
    reader.Finish(result.synth);
    return result;
}

std::optional<SynthImport> ImportSynthFile(const std::string& path, std::string& error)
{
    std::error_code code;
    if (std::filesystem::is_directory(path, code)) {
        error = path + ": this is a folder, not a synth data file.";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": the synth data file cannot be opened.";
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    if (in.bad()) {
        error = path + ": the synth data file cannot be read.";
        return std::nullopt;
    }
    return ParseSynthText(SynthNameFromPath(path), text);
}

std::string ExportSynthText(const Synthesizer& synth)
{
    std::string text;
    auto entry = [&text](int32_t number, const std::string& name) {
        text += std::to_string(number) + "=" + name + "\n";
    };
    for (const SynthBank& bank : synth.banks) {
        text += "[Bank " + std::to_string(bank.number) + ":" + bank.name + "]\n";
        for (const SynthPatch& patch : bank.patches)
            entry(patch.number, patch.name);
    }
    for (const DrumSet& set : synth.drumSets) {
        text += "[Drum " + std::to_string(set.bank) + "/" + std::to_string(set.program) + ":" + set.name + "]\n";
        for (const DrumNote& note : set.notes)
            entry(note.number, note.name);
    }
    if (!synth.controllers.empty()) {
        text += "[Controllers]\n";
        for (const NamedNumber& controller : synth.controllers)
            entry(controller.number, controller.name);
    }
    if (!synth.nrpns.empty()) {
        text += "[NRPN]\n";
        for (const NamedNumber& nrpn : synth.nrpns)
            entry(nrpn.number, nrpn.name);
    }
    return text;
}

bool ExportSynthFile(const Synthesizer& synth, const std::string& path, std::string& error)
{
    const std::string text = ExportSynthText(synth);
    DiskSaveFiles files;
    if (ReplaceFile(files, path, std::vector<uint8_t>(text.begin(), text.end()), "", error))
        return true;
    error = path + ": the synth data file could not be written: " + error;
    return false;
}

} // namespace cantivo
