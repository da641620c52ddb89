#include "synthdb/SynthDatabase.h"

#include "synthdb/SqliteStatement.h"
#include "synthdb/SynthFile.h"
#include "synthdb/SynthLookup.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>

namespace cantivo {

namespace fs = std::filesystem;

namespace {

struct Column {
    const char* name;
    const char* type; // with the default an added column gets on the rows already there
};

struct TableLayout {
    const char* name;
    std::vector<Column> columns;
    const char* key;
};

// The seven tables. Old layouts lack some columns or tables; the upgrade adds them and drops nothing.
const std::vector<TableLayout>& Layouts()
{
    static const std::vector<TableLayout> layouts = {
        {"synths",
         {{"SynthNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"SynthName", "TEXT NOT NULL DEFAULT ''"},
          {"Technology", "INTEGER NOT NULL DEFAULT 0"},
          {"ResetSysex", "TEXT NOT NULL DEFAULT ''"}},
         "\"SynthNumber\""},
        {"patches",
         {{"SynthNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"BankNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"PatchNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"PatchName", "TEXT NOT NULL DEFAULT ''"},
          {"Category", "VARCHAR(12) NOT NULL DEFAULT ''"}},
         "\"SynthNumber\", \"BankNumber\", \"PatchNumber\""},
        {"drums",
         {{"SynthNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"BankNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"PatchNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"NoteNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"NoteName", "TEXT NOT NULL DEFAULT ''"},
          {"NoteHead", "INTEGER NOT NULL DEFAULT 0"},
          {"NoteOffset", "INTEGER NOT NULL DEFAULT 0"},
          {"NoteCircle", "INTEGER NOT NULL DEFAULT 0"},
          {"Articulation", "INTEGER NOT NULL DEFAULT 0"}},
         "\"SynthNumber\", \"BankNumber\", \"PatchNumber\", \"NoteNumber\""},
        {"CC",
         {{"SynthNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"CCNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"CCName", "VARCHAR(50) NOT NULL DEFAULT ''"}},
         "\"SynthNumber\", \"CCNumber\""},
        {"NRPN",
         {{"SynthNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"NRPNNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"NRPNName", "VARCHAR(50) NOT NULL DEFAULT ''"}},
         "\"SynthNumber\", \"NRPNNumber\""},
        {"portconfig",
         {{"PortName", "VARCHAR(40) NOT NULL DEFAULT ''"},
          {"SynthNumber", "INTEGER NOT NULL DEFAULT 0"},
          {"Drums", "INTEGER NOT NULL DEFAULT 0"}},
         "\"PortName\""},
        {"chords",
         {{"ChordID", "INTEGER NOT NULL DEFAULT 0"},
          {"group", "TEXT NOT NULL DEFAULT ''"},
          {"chord", "TEXT NOT NULL DEFAULT ''"},
          {"data", "TEXT NOT NULL DEFAULT ''"}},
         "\"ChordID\""},
    };
    return layouts;
}

// Index names are global in SQLite, so each table's "PrimaryKey" is its primary-key constraint of that
// name; "Category" and "AlphaKey" are plain indexes.
const char* const SecondaryIndexes[] = {
    "CREATE INDEX IF NOT EXISTS \"Category\" ON \"patches\" (\"Category\")",
    "CREATE INDEX IF NOT EXISTS \"AlphaKey\" ON \"chords\" (\"group\", \"chord\")",
};

// What the shipped files cannot say: the reset of a synthesizer and the ports bound on first start.
struct ShippedSynthSettings {
    const char* name;
    int32_t technology;
};
const ShippedSynthSettings ShippedSettings[] = {{"General MIDI", TechGmReset}};
struct ShippedBinding {
    const char* port;
    const char* synth;
    int32_t drums;
};
const ShippedBinding ShippedBindings[] = {{"Cantivo Synth", "General MIDI", 1 << 9}};

bool Exec(sqlite3* db, const std::string& sql)
{
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string Quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

std::set<std::string> ColumnsOf(sqlite3* db, const std::string& table)
{
    std::set<std::string> columns;
    SqliteStatement info(db, ("PRAGMA table_info(" + Quoted(table) + ")").c_str());
    while (info.Step() == SQLITE_ROW)
        columns.insert(info.Text(1));
    return columns;
}

// The statements that bring the file up to date; none for a current layout.
std::vector<std::string> UpgradeStatements(sqlite3* db)
{
    std::vector<std::string> statements;
    for (const TableLayout& table : Layouts()) {
        const std::set<std::string> present = ColumnsOf(db, table.name);
        if (present.empty()) {
            std::string create = "CREATE TABLE " + Quoted(table.name) + " (";
            for (const Column& column : table.columns)
                create += Quoted(column.name) + " " + column.type + ", ";
            statements.push_back(create + "CONSTRAINT \"PrimaryKey\" PRIMARY KEY (" + table.key + "))");
            continue;
        }
        for (const Column& column : table.columns)
            if (!present.contains(column.name))
                statements.push_back("ALTER TABLE " + Quoted(table.name) + " ADD COLUMN " + Quoted(column.name) + " " +
                                     column.type);
    }
    SqliteStatement indexes(db, "SELECT name FROM sqlite_master WHERE type = 'index'");
    std::set<std::string> names;
    while (indexes.Step() == SQLITE_ROW)
        names.insert(indexes.Text(0));
    if (!names.contains("Category"))
        statements.push_back(SecondaryIndexes[0]);
    if (!names.contains("AlphaKey"))
        statements.push_back(SecondaryIndexes[1]);
    return statements;
}

std::string Cause(int code, sqlite3* db)
{
    switch (code & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return std::string("is damaged (") + sqlite3_errmsg(db) + ")";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "is locked by another program";
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_IOERR:
        return std::string("cannot be read (") + sqlite3_errmsg(db) + ")";
    default:
        return std::string("cannot be used (") + sqlite3_errmsg(db) + ")";
    }
}

// Reads every page the schema and the tables use, so damage shows now and not at a later look-up.
int CheckReadable(sqlite3* db, std::string& detail)
{
    sqlite3_stmt* check = nullptr;
    int code = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_step(check);
        if (code == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
            detail = text ? text : "";
            code = detail == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
        }
    }
    sqlite3_finalize(check);
    return code;
}

} // namespace

std::string DefaultSynthDatabasePath(const std::string& dataDir)
{
    if (!dataDir.empty())
        return (fs::path(dataDir) / "cv.db").string();
    if (const char* data = std::getenv("CANTIVO_DATA"); data != nullptr && *data != 0)
        return (fs::path(data) / "cv.db").string();
    // A relative XDG_DATA_HOME is to be ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/')
        return (fs::path(xdg) / "Cantivo" / "cv.db").string();
    const char* home = std::getenv("HOME");
    return (fs::path(home ? home : ".") / ".local" / "share" / "Cantivo" / "cv.db").string();
}

struct SynthDatabase::Statements {
    explicit Statements(sqlite3* db)
        : begin(db, "BEGIN IMMEDIATE"), commit(db, "COMMIT"), rollback(db, "ROLLBACK"),
          port(db, "SELECT \"SynthNumber\", \"Drums\" FROM \"portconfig\" WHERE \"PortName\" = ?"),
          ports(db, "SELECT \"PortName\", \"SynthNumber\", \"Drums\" FROM \"portconfig\" ORDER BY \"PortName\""),
          synth(db, "SELECT \"SynthNumber\", \"SynthName\", \"Technology\", \"ResetSysex\" FROM \"synths\" WHERE "
                    "\"SynthNumber\" = ?"),
          synths(db, "SELECT \"SynthNumber\", \"SynthName\", \"Technology\", \"ResetSysex\" FROM \"synths\" ORDER BY "
                     "\"SynthNumber\""),
          patchName(db, "SELECT \"PatchName\" FROM \"patches\" WHERE \"SynthNumber\" = ? AND \"BankNumber\" = ? AND "
                        "\"PatchNumber\" = ?"),
          drumName(db, "SELECT \"NoteName\" FROM \"drums\" WHERE \"SynthNumber\" = ? AND \"BankNumber\" = ? AND "
                       "\"PatchNumber\" = ? AND \"NoteNumber\" = ?"),
          ccName(db, "SELECT \"CCName\" FROM \"CC\" WHERE \"SynthNumber\" = ? AND \"CCNumber\" = ?"),
          nrpnName(db, "SELECT \"NRPNName\" FROM \"NRPN\" WHERE \"SynthNumber\" = ? AND \"NRPNNumber\" = ?"),
          patchesOf(db, "SELECT \"BankNumber\", \"PatchNumber\", \"PatchName\", \"Category\" FROM \"patches\" WHERE "
                        "\"SynthNumber\" = ? ORDER BY \"BankNumber\", \"PatchNumber\""),
          drumsOf(db, "SELECT \"BankNumber\", \"PatchNumber\", \"NoteNumber\", \"NoteName\", \"NoteHead\", "
                      "\"NoteOffset\", \"NoteCircle\", \"Articulation\" FROM \"drums\" WHERE \"SynthNumber\" = ? "
                      "ORDER BY \"BankNumber\", \"PatchNumber\", \"NoteNumber\""),
          ccOf(db, "SELECT \"CCNumber\", \"CCName\" FROM \"CC\" WHERE \"SynthNumber\" = ? ORDER BY \"CCNumber\""),
          nrpnOf(db, "SELECT \"NRPNNumber\", \"NRPNName\" FROM \"NRPN\" WHERE \"SynthNumber\" = ? ORDER BY "
                     "\"NRPNNumber\""),
          categories(db, "SELECT DISTINCT \"Category\" FROM \"patches\" WHERE \"Category\" <> '' ORDER BY "
                         "\"Category\""),
          maxSynth(db, "SELECT COALESCE(MAX(\"SynthNumber\"), 0) FROM \"synths\""),
          putSynth(db, "INSERT OR REPLACE INTO \"synths\" (\"SynthNumber\", \"SynthName\", \"Technology\", "
                       "\"ResetSysex\") VALUES (?, ?, ?, ?)"),
          putPatch(db, "INSERT OR REPLACE INTO \"patches\" (\"SynthNumber\", \"BankNumber\", \"PatchNumber\", "
                       "\"PatchName\", \"Category\") VALUES (?, ?, ?, ?, ?)"),
          putDrum(db, "INSERT OR REPLACE INTO \"drums\" (\"SynthNumber\", \"BankNumber\", \"PatchNumber\", "
                      "\"NoteNumber\", \"NoteName\", \"NoteHead\", \"NoteOffset\", \"NoteCircle\", \"Articulation\") "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          putCc(db, "INSERT OR REPLACE INTO \"CC\" (\"SynthNumber\", \"CCNumber\", \"CCName\") VALUES (?, ?, ?)"),
          putNrpn(db,
                  "INSERT OR REPLACE INTO \"NRPN\" (\"SynthNumber\", \"NRPNNumber\", \"NRPNName\") VALUES (?, ?, ?)"),
          deleteCc(db, "DELETE FROM \"CC\" WHERE \"SynthNumber\" = ?"),
          deleteNrpn(db, "DELETE FROM \"NRPN\" WHERE \"SynthNumber\" = ?"),
          deletePatches(db, "DELETE FROM \"patches\" WHERE \"SynthNumber\" = ?"),
          deleteDrums(db, "DELETE FROM \"drums\" WHERE \"SynthNumber\" = ?"),
          deleteSynth(db, "DELETE FROM \"synths\" WHERE \"SynthNumber\" = ?"),
          putPort(db, "INSERT OR REPLACE INTO \"portconfig\" (\"PortName\", \"SynthNumber\", \"Drums\") VALUES (?, ?, "
                      "?)"),
          deletePort(db, "DELETE FROM \"portconfig\" WHERE \"PortName\" = ?"),
          chordGroups(db, "SELECT DISTINCT \"group\" FROM \"chords\""),
          chordsOfGroup(db, "SELECT \"chord\", \"ChordID\" FROM \"chords\" WHERE \"chords\".\"group\" = ? ORDER BY "
                            "\"group\", \"chord\""),
          maxChord(db, "SELECT COALESCE(MAX(\"ChordID\"), 0) FROM \"chords\""),
          putChord(db, "INSERT INTO \"chords\" (\"ChordID\", \"group\", \"chord\", \"data\") VALUES (?, ?, ?, ?)"),
          deleteChord(db, "DELETE FROM \"chords\" WHERE \"ChordID\" = ?")
    {
    }
    SqliteStatement begin, commit, rollback;
    SqliteStatement port, ports, synth, synths, patchName, drumName, ccName, nrpnName;
    SqliteStatement patchesOf, drumsOf, ccOf, nrpnOf, categories, maxSynth;
    SqliteStatement putSynth, putPatch, putDrum, putCc, putNrpn;
    SqliteStatement deleteCc, deleteNrpn, deletePatches, deleteDrums, deleteSynth;
    SqliteStatement putPort, deletePort;
    SqliteStatement chordGroups, chordsOfGroup, maxChord, putChord, deleteChord;
};

SynthDatabase::SynthDatabase(sqlite3* db, std::string path, bool writable)
    : db_(db), path_(std::move(path)), writable_(writable), statements_(std::make_unique<Statements>(db)),
      lookup_(std::make_unique<SynthLookup>(*this))
{
}

SynthDatabase::~SynthDatabase()
{
    lookup_.reset();
    statements_.reset(); // every statement is finalized before the connection closes
    sqlite3_close(db_);
}

std::unique_ptr<SynthDatabase> SynthDatabase::Open(const SynthDbOptions& options, std::string& warning)
{
    const bool inMemory = options.path == ":memory:";
    std::error_code code;
    const bool existed = !inMemory && fs::exists(options.path, code);
    if (!inMemory && !existed) {
        const fs::path folder = fs::path(options.path).parent_path();
        if (!folder.empty() && !fs::create_directories(folder, code) && code)
            return Fallback(
                options, "cannot be made: its folder " + folder.string() + " cannot be made (" + code.message() + ")",
                warning);
    }
    sqlite3* db = nullptr;
    const int flags =
        options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | (existed ? 0 : SQLITE_OPEN_CREATE);
    int result = sqlite3_open_v2(options.path.c_str(), &db, flags, nullptr);
    if (result == SQLITE_OK) {
        sqlite3_busy_timeout(db, options.busyTimeoutMs);
        sqlite3_extended_result_codes(db, 1);
        std::string detail;
        result = CheckReadable(db, detail);
    }
    if (result != SQLITE_OK) {
        const std::string cause = Cause(result, db);
        sqlite3_close(db);
        return Fallback(options, cause, warning);
    }
    bool writable = true;
    if (options.readOnly || sqlite3_db_readonly(db, "main") == 1) {
        // Work on a copy in memory, so the layout can be brought up to date without touching the file.
        sqlite3* copy = nullptr;
        sqlite3_open(":memory:", &copy);
        sqlite3_backup* backup = sqlite3_backup_init(copy, "main", db, "main");
        result = backup ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(copy);
        sqlite3_backup_finish(backup);
        const std::string cause = Cause(result, db);
        sqlite3_close(db);
        db = copy;
        if (result != SQLITE_DONE) {
            sqlite3_close(db);
            return Fallback(options, cause, warning);
        }
        writable = false;
        warning = "The synth database " + options.path +
                  " cannot be written (it is read-only): its synths are used, but changes to them are not saved.";
    }
    const std::vector<std::string> upgrade = UpgradeStatements(db);
    if (!upgrade.empty()) {
        bool done = Exec(db, "BEGIN IMMEDIATE");
        for (const std::string& statement : upgrade)
            done = done && Exec(db, statement);
        done = done && Exec(db, "COMMIT");
        if (!done) {
            const std::string cause = Cause(sqlite3_errcode(db), db);
            Exec(db, "ROLLBACK");
            sqlite3_close(db);
            return Fallback(options, cause, warning);
        }
    }
    std::unique_ptr<SynthDatabase> database;
    try {
        database.reset(new SynthDatabase(db, options.path, writable));
    } catch (const std::logic_error& error) {
        // A table of the file has a shape the statements cannot work with.
        sqlite3_close(db);
        return Fallback(options, std::string("cannot be used (") + error.what() + ")", warning);
    }
    if (!existed && !database->FillFromShipped(options.dataFolder, warning)) {
        const std::string cause = Cause(sqlite3_errcode(db), db);
        database.reset();
        return Fallback(options, cause, warning);
    }
    return database;
}

std::unique_ptr<SynthDatabase> SynthDatabase::Fallback(const SynthDbOptions& options, const std::string& cause,
                                                       std::string& warning)
{
    warning = "The synth database " + options.path + " " + cause +
              ". The file is left as it is; the synth definitions shipped with Cantivo are used for now, and "
              "changes to synths are not saved.";
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    for (const std::string& statement : UpgradeStatements(db))
        Exec(db, statement);
    std::unique_ptr<SynthDatabase> database(new SynthDatabase(db, options.path, false));
    std::string shippedWarning;
    if (!database->FillFromShipped(options.dataFolder, shippedWarning))
        warning += " The shipped synth definitions could not be read either.";
    if (!shippedWarning.empty())
        warning += "\n" + shippedWarning;
    return database;
}

bool SynthDatabase::FillFromShipped(const std::string& dataFolder, std::string& warning)
{
    const fs::path folder = fs::path(dataFolder) / "synths";
    std::vector<fs::path> files;
    std::error_code code;
    if (!dataFolder.empty() && fs::is_directory(folder, code))
        for (const auto& entry : fs::directory_iterator(folder, code))
            if (entry.path().extension() == ".txt")
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> problems;
    std::map<std::string, int32_t> numbers;
    if (!Exec(db_, "BEGIN IMMEDIATE"))
        return false;
    bool done = true;
    for (const fs::path& file : files) {
        std::string error;
        std::optional<SynthImport> read = ImportSynthFile(file.string(), error);
        if (!read) {
            problems.push_back(error);
            continue;
        }
        for (const std::string& message : read->messages)
            problems.push_back(file.string() + ": " + message);
        for (const ShippedSynthSettings& settings : ShippedSettings)
            if (read->synth.name == settings.name)
                read->synth.technology = settings.technology;
        done = done && WriteRows(read->synth);
        numbers[read->synth.name] = read->synth.number;
    }
    for (const ShippedBinding& binding : ShippedBindings) {
        const auto synth = numbers.find(binding.synth);
        if (synth != numbers.end())
            done =
                done && statements_->putPort.Start().Bind(binding.port).Bind(synth->second).Bind(binding.drums).Run();
    }
    done = done && Exec(db_, "COMMIT");
    if (!done) {
        Exec(db_, "ROLLBACK");
        return false;
    }
    ++generation_;
    for (const std::string& problem : problems)
        warning += (warning.empty() ? "" : "\n") + problem;
    return true;
}

std::optional<PortBinding> SynthDatabase::QueryPort(const std::string& portName)
{
    SqliteStatement& port = statements_->port;
    if (port.Start().Bind(portName).Step() != SQLITE_ROW)
        return std::nullopt;
    PortBinding binding{portName, static_cast<int32_t>(port.Int(0)), static_cast<int32_t>(port.Int(1))};
    port.Reset();
    return binding;
}

std::vector<PortBinding> SynthDatabase::Ports()
{
    std::vector<PortBinding> bindings;
    SqliteStatement& ports = statements_->ports;
    ports.Start();
    while (ports.Step() == SQLITE_ROW)
        bindings.push_back({ports.Text(0), static_cast<int32_t>(ports.Int(1)), static_cast<int32_t>(ports.Int(2))});
    return bindings;
}

namespace {

SynthInfo SynthRow(const SqliteStatement& row)
{
    return {static_cast<int32_t>(row.Int(0)), row.Text(1), static_cast<int32_t>(row.Int(2)), row.Text(3)};
}

std::optional<std::string> OneText(SqliteStatement& statement)
{
    if (statement.Step() != SQLITE_ROW)
        return std::nullopt;
    std::string text = statement.Text(0);
    statement.Reset();
    return text;
}

} // namespace

std::optional<SynthInfo> SynthDatabase::QuerySynth(int32_t synthNumber)
{
    SqliteStatement& synth = statements_->synth;
    if (synth.Start().Bind(synthNumber).Step() != SQLITE_ROW)
        return std::nullopt;
    SynthInfo info = SynthRow(synth);
    synth.Reset();
    return info;
}

std::vector<SynthInfo> SynthDatabase::Synths()
{
    std::vector<SynthInfo> synths;
    SqliteStatement& all = statements_->synths;
    all.Start();
    while (all.Step() == SQLITE_ROW)
        synths.push_back(SynthRow(all));
    return synths;
}

std::optional<SynthInfo> SynthDatabase::FindSynth(const std::string& name)
{
    for (SynthInfo& synth : Synths())
        if (synth.name == name)
            return std::move(synth);
    return std::nullopt;
}

std::optional<std::string> SynthDatabase::QueryPatchName(int32_t synth, int32_t bank, int32_t patch)
{
    return OneText(statements_->patchName.Start().Bind(synth).Bind(bank).Bind(patch));
}

std::optional<std::string> SynthDatabase::QueryDrumName(int32_t synth, int32_t bank, int32_t program, int32_t note)
{
    return OneText(statements_->drumName.Start().Bind(synth).Bind(bank).Bind(program).Bind(note));
}

std::optional<std::string> SynthDatabase::QueryControllerName(int32_t synth, int32_t controller)
{
    return OneText(statements_->ccName.Start().Bind(synth).Bind(controller));
}

std::optional<std::string> SynthDatabase::QueryNrpnName(int32_t synth, int32_t nrpn)
{
    return OneText(statements_->nrpnName.Start().Bind(synth).Bind(nrpn));
}

std::vector<std::string> SynthDatabase::Categories()
{
    std::vector<std::string> categories;
    SqliteStatement& all = statements_->categories;
    all.Start();
    while (all.Step() == SQLITE_ROW)
        categories.push_back(all.Text(0));
    return categories;
}

std::optional<Synthesizer> SynthDatabase::LoadSynth(int32_t synthNumber)
{
    const std::optional<SynthInfo> info = QuerySynth(synthNumber);
    if (!info)
        return std::nullopt;
    Synthesizer synth{info->number, info->name, info->technology, info->resetSysex, {}, {}, {}, {}};
    SqliteStatement& patches = statements_->patchesOf;
    patches.Start().Bind(synthNumber);
    while (patches.Step() == SQLITE_ROW) {
        const auto bank = static_cast<int32_t>(patches.Int(0));
        const auto patch = static_cast<int32_t>(patches.Int(1));
        // Rows come in key order, the bank row (patch -1) first; a patch without one still gets its bank.
        if (synth.banks.empty() || synth.banks.back().number != bank)
            synth.banks.push_back({bank, "", {}});
        if (patch < 0)
            synth.banks.back().name = patches.Text(2);
        else
            synth.banks.back().patches.push_back({patch, patches.Text(2), patches.Text(3)});
    }
    SqliteStatement& drums = statements_->drumsOf;
    drums.Start().Bind(synthNumber);
    while (drums.Step() == SQLITE_ROW) {
        const auto bank = static_cast<int32_t>(drums.Int(0));
        const auto program = static_cast<int32_t>(drums.Int(1));
        const auto note = static_cast<int32_t>(drums.Int(2));
        if (synth.drumSets.empty() || synth.drumSets.back().bank != bank || synth.drumSets.back().program != program)
            synth.drumSets.push_back({bank, program, "", {}});
        if (note < 0)
            synth.drumSets.back().name = drums.Text(3);
        else
            synth.drumSets.back().notes.push_back(
                {note, drums.Text(3), static_cast<int32_t>(drums.Int(4)), static_cast<int32_t>(drums.Int(5)),
                 static_cast<int32_t>(drums.Int(6)), static_cast<int32_t>(drums.Int(7))});
    }
    for (auto [statement, list] :
         {std::pair{&statements_->ccOf, &synth.controllers}, std::pair{&statements_->nrpnOf, &synth.nrpns}}) {
        statement->Start().Bind(synthNumber);
        while (statement->Step() == SQLITE_ROW)
            list->push_back({static_cast<int32_t>(statement->Int(0)), statement->Text(1)});
    }
    return synth;
}

SynthDbResult SynthDatabase::Failure() const
{
    const int code = sqlite3_errcode(db_) & 0xFF;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        return {false, "The synth database " + path_ +
                           " is in use by another program, which is changing it; the change was not saved. Try "
                           "again in a moment."};
    return {false, "The synth database " + path_ + " could not be changed (" + sqlite3_errmsg(db_) +
                       "); the change was not saved."};
}

template <typename Body> SynthDbResult SynthDatabase::Write(Body&& body)
{
    if (!writable_)
        return {false,
                "The synth database " + path_ + " could not be opened for writing, so the change was not saved."};
    if (!statements_->begin.Start().Run())
        return Failure();
    if (!body() || !statements_->commit.Start().Run()) {
        SynthDbResult failure = Failure();
        (void)statements_->rollback.Start().Run();
        lookup_->Invalidate(); // the rows a failed write had changed in memory are gone again
        return failure;
    }
    ++generation_;
    return {};
}

bool SynthDatabase::DeleteRows(int32_t synthNumber)
{
    Statements& s = *statements_;
    for (SqliteStatement* statement : {&s.deleteCc, &s.deleteNrpn, &s.deletePatches, &s.deleteDrums})
        if (!statement->Start().Bind(synthNumber).Run())
            return false;
    return true;
}

bool SynthDatabase::WriteRows(Synthesizer& synth)
{
    Statements& s = *statements_;
    if (synth.number <= 0) {
        if (s.maxSynth.Start().Step() != SQLITE_ROW)
            return false;
        synth.number = static_cast<int32_t>(s.maxSynth.Int(0)) + 1;
        s.maxSynth.Reset();
    }
    const int32_t number = synth.number;
    if (!DeleteRows(number) || !s.putSynth.Start()
                                    .Bind(number)
                                    .Bind(ClipText(synth.name, SynthNameLength))
                                    .Bind(synth.technology)
                                    .Bind(synth.resetSysex)
                                    .Run())
        return false;
    for (const SynthBank& bank : synth.banks) {
        if (bank.number == UnknownNumber)
            continue;
        if (!s.putPatch.Start().Bind(number).Bind(bank.number).Bind(-1).Bind(bank.name).Bind("").Run())
            return false;
        for (const SynthPatch& patch : bank.patches)
            if (patch.number != UnknownNumber && !s.putPatch.Start()
                                                      .Bind(number)
                                                      .Bind(bank.number)
                                                      .Bind(patch.number)
                                                      .Bind(patch.name)
                                                      .Bind(ClipText(patch.category, CategoryLength))
                                                      .Run())
                return false;
    }
    for (const DrumSet& set : synth.drumSets) {
        if (set.bank == UnknownNumber || set.program == UnknownNumber)
            continue;
        if (!s.putDrum.Start()
                 .Bind(number)
                 .Bind(set.bank)
                 .Bind(set.program)
                 .Bind(-1)
                 .Bind(set.name)
                 .Bind(0)
                 .Bind(0)
                 .Bind(0)
                 .Bind(0)
                 .Run())
            return false;
        for (const DrumNote& note : set.notes)
            if (note.number != UnknownNumber && !s.putDrum.Start()
                                                     .Bind(number)
                                                     .Bind(set.bank)
                                                     .Bind(set.program)
                                                     .Bind(note.number)
                                                     .Bind(note.name)
                                                     .Bind(note.noteHead)
                                                     .Bind(note.noteOffset)
                                                     .Bind(note.noteCircle)
                                                     .Bind(note.articulation)
                                                     .Run())
                return false;
    }
    for (const NamedNumber& controller : synth.controllers)
        if (controller.number != UnknownNumber && !s.putCc.Start()
                                                       .Bind(number)
                                                       .Bind(controller.number)
                                                       .Bind(ClipText(controller.name, ControllerNameLength))
                                                       .Run())
            return false;
    for (const NamedNumber& nrpn : synth.nrpns)
        if (nrpn.number != UnknownNumber &&
            !s.putNrpn.Start().Bind(number).Bind(nrpn.number).Bind(ClipText(nrpn.name, ControllerNameLength)).Run())
            return false;
    return true;
}

SynthDbResult SynthDatabase::WriteSynth(Synthesizer& synth)
{
    const int32_t before = synth.number;
    SynthDbResult result = Write([&] { return WriteRows(synth); });
    if (!result)
        synth.number = before;
    return result;
}

SynthDbResult SynthDatabase::DeleteSynth(int32_t synthNumber)
{
    return ApplyChanges({synthNumber}, {});
}

SynthDbResult SynthDatabase::ApplyChanges(const std::vector<int32_t>& removed, const std::vector<Synthesizer*>& changed)
{
    std::vector<int32_t> before;
    for (const Synthesizer* synth : changed)
        before.push_back(synth->number);
    SynthDbResult result = Write([&] {
        for (int32_t number : removed)
            if (!DeleteRows(number) || !statements_->deleteSynth.Start().Bind(number).Run())
                return false;
        for (Synthesizer* synth : changed)
            if (!WriteRows(*synth))
                return false;
        return true;
    });
    if (!result)
        for (size_t i = 0; i < changed.size(); ++i)
            changed[i]->number = before[i];
    return result;
}

SynthDbResult SynthDatabase::BindPort(const PortBinding& binding)
{
    return Write([&] {
        return statements_->putPort.Start()
            .Bind(ClipText(binding.portName, PortNameLength))
            .Bind(binding.synthNumber)
            .Bind(binding.drums)
            .Run();
    });
}

SynthDbResult SynthDatabase::UnbindPort(const std::string& portName)
{
    return Write([&] { return statements_->deletePort.Start().Bind(portName).Run(); });
}

std::vector<std::string> SynthDatabase::ChordGroups()
{
    std::vector<std::string> groups;
    SqliteStatement& all = statements_->chordGroups;
    all.Start();
    while (all.Step() == SQLITE_ROW)
        groups.push_back(all.Text(0));
    return groups;
}

std::vector<ChordEntry> SynthDatabase::ChordsOfGroup(const std::string& group)
{
    std::vector<ChordEntry> chords;
    SqliteStatement& ofGroup = statements_->chordsOfGroup;
    ofGroup.Start().Bind(group);
    while (ofGroup.Step() == SQLITE_ROW)
        chords.push_back({ofGroup.Text(0), static_cast<int32_t>(ofGroup.Int(1))});
    return chords;
}

SynthDbResult SynthDatabase::AddChord(const std::string& group, const std::string& chord, const std::string& data,
                                      int32_t& id)
{
    int32_t next = 0;
    SynthDbResult result = Write([&] {
        if (statements_->maxChord.Start().Step() != SQLITE_ROW)
            return false;
        next = static_cast<int32_t>(statements_->maxChord.Int(0)) + 1;
        statements_->maxChord.Reset();
        return statements_->putChord.Start().Bind(next).Bind(group).Bind(chord).Bind(data).Run();
    });
    if (result)
        id = next;
    return result;
}

SynthDbResult SynthDatabase::RemoveChord(int32_t id)
{
    return Write([&] { return statements_->deleteChord.Start().Bind(id).Run(); });
}

std::string ChordFingering(const std::string& data)
{
    return data.size() == 6 ? data : std::string(6, static_cast<char>(134));
}

std::string ChordRemovalQuestion(const std::string& group, const std::string& chord)
{
    return "Are you sure that you want to remove '" + group + "/" + chord + "'?";
}

} // namespace cantivo
