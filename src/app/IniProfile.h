#pragma once

#include "song/Profile.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace cantivo {

// The configuration store kept in an INI file through QSettings (IniFormat): one "[Section]" per
// section, one "Name=value" per line, written and escaped the way QSettings does it.
//
// File layout:
// - Integers are written in decimal. Strings that are UTF-8 text without control characters other
//   than tab and line breaks are written as text (QSettings quotes and escapes them as needed); any
//   other string, and every binary value, is written whole as "@ByteArray(...)", so every byte
//   sequence reads back exactly.
// - Names are matched without regard to ASCII case, like the registry keys they stand for; a name
//   keeps the case of its first write. '/', '\' and '%' in a name, an empty name, and the bytes of a
//   name that is not UTF-8 are stored as "%XX" (which QSettings writes as "%25XX" in the file).
// - Binary values of a map key ("AccelMap", "Keymap") live under "Maps\<name>" in the section of the
//   key, apart from the key's own values ("Enabled", "UseWhich"), so that a map named like one of
//   those values never collides with it. EnumValues lists them in the sorted order QSettings keeps.
//
// Every write is merged into the file as it now stands on disk and written at once under the lock
// QSettings takes, so two processes writing the same file keep each other's changes; the file written
// is then read back (QSettings does not notice a short write on a full disk) and flushed to disk. An
// unchanged value is not written again. A file that cannot be read or is damaged (not a regular file,
// over 16 MB, NUL bytes, a line that is neither a section, a value nor a comment) is reported once
// through TakeWarning and treated as empty; it is kept as "<file>.bad" when the first write replaces
// it. Nothing here needs a QCoreApplication.
class IniProfile final : public Profile {
  public:
    explicit IniProfile(std::string path);
    ~IniProfile() override;
    IniProfile(const IniProfile&) = delete;
    IniProfile& operator=(const IniProfile&) = delete;

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

  private:
    // A value as it is kept: text (integers included, in decimal) or whole bytes.
    struct Stored {
        bool bytes = false;
        std::string data;
        bool operator==(const Stored&) const = default;
    };
    enum class FileState { Usable, Missing, Damaged };

    FileState CheckFile(std::string& problem) const;
    void OpenSettings();
    // The stored value at a path of names (section, [group,] value), if there is one.
    std::optional<Stored> Find(const std::vector<std::string>& names) const;
    // Sets (or with no value, removes) one value in the file; false with LastError on failure.
    bool Change(const std::vector<std::string>& names, const std::optional<Stored>& value);
    bool KeepDamagedFileAside();

    std::string path_;
    std::unique_ptr<QSettings> settings_;
    std::optional<std::string> warning_;
    bool damaged_ = false; // the file on disk could not be used: it reads as empty and is kept aside on a write
    std::string lastError_;
};

} // namespace cantivo
