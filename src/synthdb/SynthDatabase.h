#pragma once

#include "synthdb/Synthesizer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace cantivo {

class SynthLookup;

// A change to the database, or why it was not made (nothing of it was kept then).
struct [[nodiscard]] SynthDbResult {
    bool ok = true;
    std::string message;
    explicit operator bool() const { return ok; }
};

// A "synths" row.
struct SynthInfo {
    int32_t number = 0;
    std::string name;
    int32_t technology = 0;
    std::string resetSysex;
    bool operator==(const SynthInfo&) const = default;
};

// A "portconfig" row: the synthesizer of an output port and its drum channels (bit n = channel n + 1).
struct PortBinding {
    std::string portName;
    int32_t synthNumber = 0;
    int32_t drums = 0;
    bool operator==(const PortBinding&) const = default;
};

struct ChordEntry {
    std::string chord;
    int32_t id = 0;
    bool operator==(const ChordEntry&) const = default;
};

struct SynthDbOptions {
    std::string path;       // the database file; ":memory:" for one that lives only in the process
    std::string dataFolder; // the shipped data: "synths/*.txt" fill a database made new
    // How long a write waits for another program's lock before it reports.
    int busyTimeoutMs = 2000;
    bool readOnly = false; // open the file as one that cannot be written
};

// The database file: `dataDir`/cv.db when given, else $CANTIVO_DATA/cv.db, else
// $XDG_DATA_HOME/Cantivo/cv.db ($XDG_DATA_HOME defaulting to ~/.local/share).
std::string DefaultSynthDatabasePath(const std::string& dataDir = "");

// The instrument database: synthesizers with their banks, patches, drum sets, controller and NRPN
// names and reset settings, the port bindings and the chord library, in SQLite. Used from one thread
// (the UI's); the play thread gets names and resets through what the UI thread hands it.
class SynthDatabase {
  public:
    ~SynthDatabase();
    SynthDatabase(const SynthDatabase&) = delete;
    SynthDatabase& operator=(const SynthDatabase&) = delete;

    // Opens the file, bringing an older layout up to date, or makes it and fills it from the shipped synth
    // files. Never fails: a file that cannot be read, is locked or damaged is left untouched, `warning`
    // says so once, and the database lives in memory with the shipped synths (changes are refused then).
    static std::unique_ptr<SynthDatabase> Open(const SynthDbOptions& options, std::string& warning);

    const std::string& Path() const { return path_; }
    // False when the database is a stand-in for a file that could not be used: writes are refused.
    bool Writable() const { return writable_; }
    // Raised by every change, so caches know when to drop what they hold.
    uint64_t Generation() const { return generation_; }
    // The cached look-ups (see SynthLookup) over this database.
    SynthLookup& Lookup() { return *lookup_; }

    // Uncached look-ups; each one query through a statement prepared at open.
    std::optional<PortBinding> QueryPort(const std::string& portName);
    std::vector<PortBinding> Ports();
    std::optional<SynthInfo> QuerySynth(int32_t synthNumber);
    std::vector<SynthInfo> Synths();
    std::optional<SynthInfo> FindSynth(const std::string& name);
    // Patch -1 gives the bank's name.
    std::optional<std::string> QueryPatchName(int32_t synth, int32_t bank, int32_t patch);
    // Note -1 gives the drum set's name.
    std::optional<std::string> QueryDrumName(int32_t synth, int32_t bank, int32_t program, int32_t note);
    std::optional<std::string> QueryControllerName(int32_t synth, int32_t controller);
    std::optional<std::string> QueryNrpnName(int32_t synth, int32_t nrpn);
    // The patch categories in use, for the "Category:" list.
    std::vector<std::string> Categories();
    // The whole synthesizer in key order.
    std::optional<Synthesizer> LoadSynth(int32_t synthNumber);

    // Stores the synthesizer in place of all rows of its number; number 0 gets the next free number.
    SynthDbResult WriteSynth(Synthesizer& synth);
    // Removes a synthesizer's rows from "CC", "NRPN", "patches" and "drums", then its "synths" row.
    SynthDbResult DeleteSynth(int32_t synthNumber);
    // Both in one transaction: the editor's OK.
    SynthDbResult ApplyChanges(const std::vector<int32_t>& removed, const std::vector<Synthesizer*>& changed);
    SynthDbResult BindPort(const PortBinding& binding);
    SynthDbResult UnbindPort(const std::string& portName);

    // The chord library: the groups ("SELECT DISTINCT group") and a group's chords by name.
    std::vector<std::string> ChordGroups();
    std::vector<ChordEntry> ChordsOfGroup(const std::string& group);
    // Adds a chord with the next free "ChordID", which `id` receives.
    SynthDbResult AddChord(const std::string& group, const std::string& chord, const std::string& data, int32_t& id);
    SynthDbResult RemoveChord(int32_t id);

  private:
    struct Statements;
    SynthDatabase(sqlite3* db, std::string path, bool writable);
    static std::unique_ptr<SynthDatabase> Fallback(const SynthDbOptions& options, const std::string& cause,
                                                   std::string& warning);
    template <typename Body> SynthDbResult Write(Body&& body);
    SynthDbResult Failure() const;
    bool WriteRows(Synthesizer& synth);
    bool DeleteRows(int32_t synthNumber);
    bool FillFromShipped(const std::string& dataFolder, std::string& warning);

    sqlite3* db_ = nullptr;
    std::string path_;
    bool writable_ = true;
    uint64_t generation_ = 0;
    std::unique_ptr<Statements> statements_;
    std::unique_ptr<SynthLookup> lookup_;
};

// The six strings of a chord's fingering, low E first: a missing or malformed "data" gives code 134 for
// every string.
std::string ChordFingering(const std::string& data);
std::string ChordRemovalQuestion(const std::string& group, const std::string& chord);

} // namespace cantivo
