#pragma once

#include "song/Profile.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cantivo {

// The configuration store kept in an INI file, one "[Section]" per section, one "Name=value" per line.
//
// File layout:
// - Integers are written in decimal; strings as their text with backslash escapes: "\\" for a
//   backslash, "\n", "\r", "\t", and "\xHH" for any other control byte, for a blank at either end of
//   the text, and for characters that would end a name ('=' in a value name, ']' in a section name,
//   a leading ';', '#' or '['). Everything else, UTF-8 included, is written as it is. Blanks around
//   names and values are not part of them, so hand edits such as "Name = value" read as expected.
// - Section and value names are matched without regard to ASCII case, like the registry keys they
//   stand for; a name keeps the case of its first write.
// - Binary values of a map key ("AccelMap", "Keymap") live in the section "<key>/Maps" as upper-case
//   hexadecimal, apart from the section "<key>" that holds the key's own values ("Enabled",
//   "UseWhich"), so that a map named like one of those values never collides with it.
//
// Every write merges the one change into the file as it now stands on disk and replaces the file
// atomically (a temporary file in the same folder, flushed to disk, then renamed over it). A file that
// cannot be read or is damaged is reported once through TakeWarning and treated as empty; it is kept
// as "<file>.bad" when the first write replaces it.
class IniProfile final : public Profile {
  public:
    explicit IniProfile(std::string path);

    // The file to use: `configOption` (from --config) when given, else $CANTIVO_CONFIG, else
    // $XDG_CONFIG_HOME/Cantivo/Cantivo.ini, else ~/.config/Cantivo/Cantivo.ini.
    static std::string ResolvePath(const std::string& configOption);

    const std::string& Path() const { return path_; }
    // The text of a problem met while reading the file, once; empty afterwards.
    std::optional<std::string> TakeWarning();
    // Why the last failed write failed.
    const std::string& LastError() const { return lastError_; }
    // Reads the file again (settings written by another process since).
    void Reload();

    int32_t GetInt(const std::string& section, const std::string& value, int32_t fallback) const override;
    std::string GetString(const std::string& section, const std::string& value,
                          const std::string& fallback) const override;
    bool WriteInt(const std::string& section, const std::string& value, int32_t number) override;
    bool WriteString(const std::string& section, const std::string& value, const std::string& text) override;

    std::optional<std::vector<uint8_t>> GetBinary(const std::string& key, const std::string& value) const override;
    bool WriteBinary(const std::string& key, const std::string& value, const std::vector<uint8_t>& bytes) override;
    std::vector<std::string> EnumValues(const std::string& key) const override;
    bool DeleteValue(const std::string& key, const std::string& value) override;

    // The section that holds the binary values of a map key.
    static std::string MapSection(const std::string& key) { return key + "/Maps"; }

  private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> values; // in file order
    };
    enum class LoadResult { Loaded, Missing, Failed };

    LoadResult Load(std::vector<Section>& sections, std::string& problem) const;
    const std::string* Find(const std::string& section, const std::string& value) const;
    // Sets (or with no text, removes) one value in the file; false with LastError on failure.
    bool Change(const std::string& section, const std::string& value, const std::optional<std::string>& text);
    bool Save(const std::vector<Section>& sections);

    std::string path_;
    std::vector<Section> sections_;
    std::optional<std::string> warning_;
    bool damaged_ = false; // the file on disk could not be used; keep it aside before replacing it
    std::string lastError_;
};

} // namespace cantivo
