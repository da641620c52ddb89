#include "app/AccelMap.h"
#include "app/CommandTable.h"
#include "cli/Commands.h"
#include "rig/Session.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

namespace cantivo {

namespace {

namespace fs = std::filesystem;

// Far above any real map file (100 maps of 100 entries is about 86 kB): a larger file is not one.
constexpr std::uintmax_t MaxMapFileBytes = 1u << 20;

struct KeysArguments {
    std::string name;
    std::string file;
    std::vector<std::string> exportArguments; // NAME FILE, or FILE with --all
    bool all = false;
    bool overwrite = false;
    bool keep = false;
};

bool ReadFile(Session& session, const std::string& path, std::vector<uint8_t>& bytes)
{
    std::error_code code;
    const std::uintmax_t size = fs::file_size(path, code);
    if (code || size > MaxMapFileBytes) {
        session.Err() << "cantivo-cli keys: " << path
                      << (code ? " can not be read" : " is too large for an accelerator map file") << "\n";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        session.Err() << "cantivo-cli keys: " << path << " can not be read\n";
        return false;
    }
    return true;
}

// Written beside the target and renamed over it, so a failed write leaves the old file whole.
bool WriteFile(Session& session, const std::string& path, const std::vector<uint8_t>& bytes)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            session.Err() << "cantivo-cli keys: " << path << " can not be written\n";
            return false;
        }
    }
    std::error_code code;
    fs::rename(temporary, path, code);
    if (code) {
        fs::remove(temporary, code);
        session.Err() << "cantivo-cli keys: " << path << " can not be written\n";
        return false;
    }
    return true;
}

// The store as the program sees it after start-up: "Default" is written at the first activation.
std::vector<AccelMap> StoredMaps(AccelMapStore& store)
{
    (void)store.Activate();
    return store.LoadAll();
}

int ListMaps(Session& session)
{
    AccelMapStore store(*session.Context().profile);
    const std::vector<AccelMap> maps = StoredMaps(store);
    const std::string active = store.UseWhich();
    for (const AccelMap& map : maps)
        session.Out() << (map.name == active ? "* " : "  ") << map.name << " (" << map.entries.size() << " entries)\n";
    if (!store.Enabled())
        session.Out() << "Enabled: 0 (no keyboard shortcuts)\n";
    else
        session.Out() << "Enabled: 1\n";
    return ExitSuccess;
}

int ShowMap(Session& session, const KeysArguments& arguments)
{
    AccelMapStore store(*session.Context().profile);
    (void)StoredMaps(store);
    const std::optional<AccelMap> map = store.Load(arguments.name);
    if (!map) {
        session.Err() << "cantivo-cli keys: there is no accelerator map named '" << arguments.name << "'\n";
        return ExitUsage;
    }
    for (const AccelEntry& entry : map->entries)
        session.Out() << ShortcutText(entry) << "\t" << FunctionName(entry.command) << "\n";
    return ExitSuccess;
}

int ImportMaps(Session& session, const KeysArguments& arguments)
{
    std::vector<uint8_t> bytes;
    if (!ReadFile(session, arguments.file, bytes))
        return ExitFileUnusable;
    AccelMapStore store(*session.Context().profile);
    std::vector<AccelMap> maps = StoredMaps(store);
    std::vector<std::string> skipped;
    const auto overwrite = [&](const std::string& name) {
        bool yes = arguments.overwrite;
        if (!arguments.overwrite && !arguments.keep)
            yes = session.Context().prompter->Ask(AccelOverwriteQuestion(name), PromptButtons::YesNo,
                                                  PromptIcon::Question);
        if (!yes)
            skipped.push_back(name);
        return yes;
    };
    std::string error;
    if (!ImportAccelMaps(bytes, maps, overwrite, error)) {
        // The command line stores all of a file or nothing, so a damaged file changes no map.
        session.Err() << "cantivo-cli keys: " << arguments.file << ": " << error << "\nNo map was imported.\n";
        return ExitFileUnusable;
    }
    // Only the maps added or replaced are written; the others and the section values stay as they are.
    for (const AccelMap& map : maps) {
        if (store.Load(map.name) == map)
            continue;
        if (!store.Store(map)) {
            session.Err() << "cantivo-cli keys: the settings could not be written\n";
            return ExitFileUnusable;
        }
    }
    for (const std::string& name : skipped)
        session.Out() << "Kept the existing map '" << name << "'\n";
    session.Out() << "Imported " << arguments.file << "\n";
    return ExitSuccess;
}

int ExportMaps(Session& session, const KeysArguments& arguments)
{
    const std::vector<std::string>& given = arguments.exportArguments;
    if (given.size() != (arguments.all ? 1u : 2u)) {
        session.Err() << "cantivo-cli keys export: give NAME FILE, or --all FILE\n";
        return ExitUsage;
    }
    AccelMapStore store(*session.Context().profile);
    std::vector<AccelMap> maps = StoredMaps(store);
    if (!arguments.all) {
        const std::optional<AccelMap> map = store.Load(given[0]);
        if (!map) {
            session.Err() << "cantivo-cli keys: there is no accelerator map named '" << given[0] << "'\n";
            return ExitUsage;
        }
        maps = {*map};
    }
    const std::string& file = given.back();
    if (!WriteFile(session, file, ExportAccelMaps(maps)))
        return ExitFileUnusable;
    session.Out() << "Exported " << maps.size() << (maps.size() == 1 ? " map" : " maps") << " to " << file << "\n";
    return ExitSuccess;
}

int UseMap(Session& session, const KeysArguments& arguments)
{
    AccelMapStore store(*session.Context().profile);
    (void)StoredMaps(store);
    if (!store.Load(arguments.name)) {
        session.Err() << "cantivo-cli keys: there is no accelerator map named '" << arguments.name << "'\n";
        return ExitUsage;
    }
    if (!store.Use(arguments.name)) {
        session.Err() << "cantivo-cli keys: the settings could not be written\n";
        return ExitFileUnusable;
    }
    session.Out() << "The accelerator map in use is now '" << arguments.name << "'"
                  << (store.Enabled() ? "" : " (keyboard shortcuts are off: \"Enabled\" is 0)") << "\n";
    return ExitSuccess;
}

} // namespace

CliCommand AddKeysCommand(CLI::App& tool, Session& session)
{
    auto arguments = std::make_shared<KeysArguments>();
    CLI::App* app = tool.add_subcommand("keys", "Lists, shows, imports and exports the keyboard accelerator maps");
    app->require_subcommand(1);
    CLI::App* list = app->add_subcommand("list", "The stored maps, the active one marked, and whether keys are on");
    CLI::App* show = app->add_subcommand("show", "Each shortcut of a map and the function it runs");
    show->add_option("NAME", arguments->name, "The map")->required();
    CLI::App* import = app->add_subcommand("import", "Adds every map of an accelerator map file (.dat)");
    import->add_option("FILE", arguments->file, "The map file")->required();
    import->add_flag("--overwrite", arguments->overwrite, "Replace maps of the same name without asking");
    import->add_flag("--keep", arguments->keep, "Keep maps of the same name without asking");
    CLI::App* exporting = app->add_subcommand("export", "Writes one map, or with --all every map, to a file (.dat)");
    exporting->add_option("ARGS", arguments->exportArguments, "NAME FILE, or FILE with --all")->required();
    exporting->add_flag("--all", arguments->all, "Every stored map");
    CLI::App* use = app->add_subcommand("use", "Makes a stored map the one in use (\"UseWhich\")");
    use->add_option("NAME", arguments->name, "The map")->required();
    return {app, [&session, arguments, list, show, import, use] {
                if (use->parsed())
                    return UseMap(session, *arguments);
                if (list->parsed())
                    return ListMaps(session);
                if (show->parsed())
                    return ShowMap(session, *arguments);
                if (import->parsed())
                    return ImportMaps(session, *arguments);
                return ExportMaps(session, *arguments);
            }};
}

} // namespace cantivo
