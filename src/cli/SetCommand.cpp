#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/SongText.h"

#include "edit/SetHistory.h"
#include "set/CLiveDoc.h"
#include "set/SetFile.h"
#include "song/AtomicFile.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "song/TimeCode.h"

#include <filesystem>
#include <ostream>

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
};

std::string Absolute(const std::string& path)
{
    std::error_code code;
    const fs::path absolute = fs::absolute(path, code);
    return code ? path : absolute.lexically_normal().string();
}

// Opens the set as it lists itself: the command line never moves files the set does not list.
bool OpenSetFile(CliSession& session, CLiveDoc& set, const std::string& path)
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

int ListSet(CliSession& session, const SetArguments& arguments)
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

int NewSet(CliSession& session, const SetArguments& arguments)
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
int ChangeSet(CliSession& session, const SetArguments& arguments, const std::string& what)
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

} // namespace

CliCommand AddSetCommand(CLI::App& tool, CliSession& session)
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
    return {app, [&session, arguments, list, create, add, remove] {
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
