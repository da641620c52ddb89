#include "cli/Commands.h"
#include "cli/SongText.h"
#include "rig/Session.h"

#include "edit/SetHistory.h"
#include "set/CLiveDoc.h"
#include "set/SetFile.h"
#include "song/AtomicFile.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "song/TimeCode.h"

#include <filesystem>
#include <ostream>
#include <vector>

namespace cantivo {

namespace {

namespace fs = std::filesystem;

constexpr const char* DamagedSetMessage = "Sorry, the set can not be opened--it may be damaged.";

struct SetArguments {
    std::string set;
    std::string song;
    int at = 0; // 1-based; 0 appends
    int position = 0;
    int from = 0;
    int to = 0;
    std::vector<std::string> files;
    std::string out;
};

std::string Absolute(const std::string& path)
{
    std::error_code code;
    const fs::path absolute = fs::absolute(path, code);
    return code ? path : absolute.lexically_normal().string();
}

// Opens the set as it lists itself: the command line never moves files the set does not list.
bool OpenSetFile(Session& session, CLiveDoc& set, const std::string& path)
{
    std::string error;
    if (set.OpenSet(Absolute(path), error, false))
        return true;
    session.Err() << "cantivo-cli set: " << error << "\n" << DamagedSetMessage << "\n";
    return false;
}

std::string CueNames(const Song& song)
{
    std::string names;
    for (const auto& cue : song.cues) {
        if (!names.empty())
            names += ", ";
        const std::string label = cue->DisplayLabel();
        names += label.empty() ? PlainKindName(cue->kind) : label;
    }
    return names;
}

int ListSet(Session& session, const SetArguments& arguments)
{
    DiskSaveFiles files;
    CLiveDoc set(session.Context(), files);
    if (!OpenSetFile(session, set, arguments.set))
        return ExitFileUnusable;
    std::ostream& out = session.Out();
    out << "Set     " << set.PathName() << "\n";
    out << "Songs   " << set.SongCount() << "\n";
    double total = 0;
    for (int i = 0; i < set.SongCount(); ++i) {
        const bool read = set.EnsureRead(i);
        const Song& song = set.SongAt(i);
        const std::string file = StoredPathName(song.pathName);
        out << "  " << i + 1 << "  "
            << (song.title.empty() ? StripKnownExtension(file) : song.title + " (" + file + ")");
        if (!read) {
            out << "  (not read: " << song.pathName << ")\n";
            continue;
        }
        total += song.songLength;
        out << "  " << TransportTimeText(song.songLength, Milliseconds);
        if (const std::string cues = CueNames(song); !cues.empty())
            out << "  cues: " << cues;
        out << "\n";
    }
    out << "Total   " << TransportTimeText(total, Milliseconds) << "\n";
    return ExitSuccess;
}

int NewSet(Session& session, const SetArguments& arguments)
{
    const std::string path = Absolute(arguments.set);
    std::error_code code;
    if (fs::exists(path, code)) {
        session.Err() << "cantivo-cli set: " << path
                      << ": A file with that name already exists at that location!\n"
                         "Please choose another name or location.\n";
        return ExitFileUnusable;
    }
    DiskSaveFiles files;
    CLiveDoc set(session.Context(), files);
    std::string error;
    if (!set.NewSet(path, error)) {
        session.Err() << "cantivo-cli set: " << error << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Created " << path << "\n";
    return ExitSuccess;
}

// One change through the set's history, then the set saved.
int ChangeSet(Session& session, const SetArguments& arguments, const std::string& what)
{
    DiskSaveFiles files;
    CLiveDoc set(session.Context(), files);
    if (!OpenSetFile(session, set, arguments.set))
        return ExitFileUnusable;
    const int count = set.SongCount();
    auto position = [&](int oneBased, bool end) {
        if (oneBased < 1 || oneBased > count + (end ? 1 : 0)) {
            session.Err() << "cantivo-cli set: there is no position " << oneBased << " in a set of " << count
                          << " songs\n";
            return -1;
        }
        return oneBased - 1;
    };
    std::unique_ptr<UndoStep> step;
    if (what == "add") {
        std::error_code code;
        if (!fs::is_regular_file(arguments.song, code)) {
            session.Err() << "cantivo-cli set: " << arguments.song << ": no such song file\n";
            return ExitFileUnusable;
        }
        const int at = arguments.at == 0 ? count : position(arguments.at, true);
        if (at < 0)
            return ExitUsage;
        step = SetHistory::InsertSongStep("Add song", Absolute(arguments.song), at);
    } else if (what == "remove") {
        const int at = position(arguments.position, false);
        if (at < 0)
            return ExitUsage;
        step = SetHistory::DeleteSongStep(set.SongAt(at).pathName, at);
    } else {
        const int from = position(arguments.from, false);
        const int to = position(arguments.to, false);
        if (from < 0 || to < 0)
            return ExitUsage;
        step = SetHistory::MoveSongStep(from, to);
    }
    if (!set.Submit(std::move(step))) {
        session.Err() << "cantivo-cli set: the change could not be made; the set is left as it was\n";
        return ExitFileUnusable;
    }
    std::string error;
    if (!set.SaveSet(set.PathName(), error)) {
        session.Err() << "cantivo-cli set: " << error << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Saved " << set.PathName() << " (" << set.SongCount() << " songs)\n";
    return ExitSuccess;
}

// Copies songs into the set's folder and adds them, then saves the set.
int ImportIntoSet(Session& session, const SetArguments& arguments)
{
    DiskSaveFiles files;
    CLiveDoc set(session.Context(), files);
    if (!OpenSetFile(session, set, arguments.set))
        return ExitFileUnusable;
    if (arguments.at < 0 || arguments.at > set.SongCount() + 1) {
        session.Err() << "cantivo-cli set: there is no position " << arguments.at << " in a set of " << set.SongCount()
                      << " songs\n";
        return ExitUsage;
    }
    std::vector<std::string> songs;
    for (const std::string& file : arguments.files) {
        std::error_code code;
        if (!fs::is_regular_file(file, code)) {
            session.Err() << "cantivo-cli set: " << file << ": no such song file; nothing was imported\n";
            return ExitFileUnusable;
        }
        songs.push_back(Absolute(file));
    }
    const int imported = set.ImportSongs(songs, arguments.at == 0 ? -1 : arguments.at - 1);
    std::string error;
    if (imported > 0 && !set.SaveSet(set.PathName(), error)) {
        session.Err() << "cantivo-cli set: " << error << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Imported " << imported << " of " << songs.size() << " songs into " << set.PathName() << " ("
                  << set.SongCount() << " songs)\n";
    return imported == static_cast<int>(songs.size()) ? ExitSuccess : ExitFileUnusable;
}

// Writes song N to another file (a template, say); the song in the set stays as it is.
int ExportFromSet(Session& session, const SetArguments& arguments)
{
    DiskSaveFiles files;
    CLiveDoc set(session.Context(), files);
    if (!OpenSetFile(session, set, arguments.set))
        return ExitFileUnusable;
    const int at = arguments.position - 1;
    if (at < 0 || at >= set.SongCount()) {
        session.Err() << "cantivo-cli set: there is no position " << arguments.position << " in a set of "
                      << set.SongCount() << " songs\n";
        return ExitUsage;
    }
    if (!set.EnsureRead(at)) {
        session.Err() << "cantivo-cli set: song " << arguments.position << " could not be read\n";
        return ExitFileUnusable;
    }
    const std::string out = Absolute(arguments.out);
    std::error_code code;
    if (fs::exists(out, code) && !session.Context().prompter->Ask(out + " already exists.\nDo you want to replace it?",
                                                                  PromptButtons::YesNo, PromptIcon::Warning)) {
        session.Err() << "cantivo-cli set: " << out << " is left as it was\n";
        return ExitFileUnusable;
    }
    set.SetCurrentSong(&set.SongAt(at));
    std::string error;
    if (!set.ExportSong(out, error)) {
        session.Err() << "cantivo-cli set: " << error << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Exported " << set.SongAt(at).pathName << " to " << out << "\n";
    return ExitSuccess;
}

} // namespace

CliCommand AddSetCommand(CLI::App& tool, Session& session)
{
    auto arguments = std::make_shared<SetArguments>();
    CLI::App* app = tool.add_subcommand("set", "Lists or edits a set (a show's ordered songs); positions count from 1");
    app->require_subcommand(1);
    CLI::App* list = app->add_subcommand("list", "The songs with their durations and cues, and the set's total time");
    list->add_option("SET", arguments->set, "The set file (.set)")->required();
    CLI::App* create = app->add_subcommand("new", "Writes a new empty set file");
    create->add_option("SET", arguments->set, "The set file to create")->required();
    CLI::App* add = app->add_subcommand("add", "Adds a song to the set and saves it");
    add->add_option("SET", arguments->set, "The set file")->required();
    add->add_option("SONG", arguments->song, "The song file")->required();
    add->add_option("--at", arguments->at, "The position it takes (default: the end)");
    CLI::App* remove = app->add_subcommand("remove", "Removes the song at a position and saves the set");
    remove->add_option("SET", arguments->set, "The set file")->required();
    remove->add_option("N", arguments->position, "The position")->required();
    CLI::App* move = app->add_subcommand("move", "Moves a song to another position and saves the set");
    move->add_option("SET", arguments->set, "The set file")->required();
    move->add_option("FROM", arguments->from, "The song's position")->required();
    move->add_option("TO", arguments->to, "The position it takes")->required();
    CLI::App* import = app->add_subcommand(
        "import", "Copies songs into the set's folder (with their .cv and WaveData), adds them and saves the set");
    import->add_option("SET", arguments->set, "The set file")->required();
    import->add_option("FILE", arguments->files, "The song files")->required();
    import->add_option("--at", arguments->at, "The position the first takes (default: the end)");
    CLI::App* exporting = app->add_subcommand("export", "Writes song N to another file, a template for instance");
    exporting->add_option("SET", arguments->set, "The set file")->required();
    exporting->add_option("N", arguments->position, "The song's position")->required();
    exporting->add_option("FILE", arguments->out, "The file to write (.mid)")->required();
    return {app, [&session, arguments, list, create, add, remove, import, exporting] {
                if (import->parsed())
                    return ImportIntoSet(session, *arguments);
                if (exporting->parsed())
                    return ExportFromSet(session, *arguments);
                if (list->parsed())
                    return ListSet(session, *arguments);
                if (create->parsed())
                    return NewSet(session, *arguments);
                if (add->parsed())
                    return ChangeSet(session, *arguments, "add");
                if (remove->parsed())
                    return ChangeSet(session, *arguments, "remove");
                return ChangeSet(session, *arguments, "move");
            }};
}

} // namespace cantivo
