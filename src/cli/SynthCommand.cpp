#include "cli/Commands.h"
#include "rig/Session.h"

#include "synthdb/SynthDatabase.h"
#include "synthdb/SynthFile.h"
#include "synthdb/Synthesizer.h"

#include <ostream>

namespace cantivo {

namespace {

struct SynthArguments {
    std::string name;
    std::string file;
    std::vector<std::string> files;
    std::string port;
    std::vector<int> drums;
};

constexpr const char* Prefix = "cantivo-cli synth: ";

std::string Plural(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Summary(const Synthesizer& synth)
{
    size_t patches = 0;
    for (const SynthBank& bank : synth.banks)
        patches += bank.patches.size();
    return Plural(synth.banks.size(), "bank", "banks") + ", " + Plural(patches, "patch", "patches") + ", " +
           Plural(synth.drumSets.size(), "drum set", "drum sets") + ", " +
           Plural(synth.controllers.size(), "controller", "controllers") + ", " + std::to_string(synth.nrpns.size()) +
           " NRPN";
}

std::string DrumChannels(int32_t mask)
{
    std::string channels;
    for (int channel = 0; channel < 16; ++channel)
        if ((mask & (1 << channel)) != 0)
            channels += (channels.empty() ? "" : ",") + std::to_string(channel + 1);
    return channels.empty() ? "no drum channels" : "drums " + channels;
}

std::string ResetText(int32_t technology)
{
    static const std::pair<int32_t, const char*> names[] = {{TechGmReset, "GM reset"},
                                                            {TechGsReset, "GS reset"},
                                                            {TechXgReset, "XG reset"},
                                                            {TechUserReset, "User"},
                                                            {TechAllSoundOff, "CC120 - All Sound Off"},
                                                            {TechResetAllControllers, "CC121 - Reset All CCs"},
                                                            {TechDefaultControllers, "Set used CCs to defaults"}};
    std::string text;
    for (const auto& [bit, name] : names)
        if ((technology & bit) != 0)
            text += (text.empty() ? "" : ", ") + std::string(name);
    return text.empty() ? "none" : text;
}

std::optional<Synthesizer> FindSynth(Session& session, const std::string& name)
{
    SynthDatabase& db = session.SynthDb();
    if (const std::optional<SynthInfo> info = db.FindSynth(name))
        return db.LoadSynth(info->number);
    session.Err() << Prefix << "there is no synth named \"" << name << "\" in " << db.Path()
                  << " (\"cantivo-cli synth list\" lists them)\n";
    return std::nullopt;
}

int ListSynths(Session& session)
{
    SynthDatabase& db = session.SynthDb();
    std::ostream& out = session.Out();
    const std::vector<SynthInfo> synths = db.Synths();
    out << "Database  " << db.Path() << (db.Writable() ? "" : " (not used: the shipped synths are shown)") << "\n";
    out << "Synths    " << synths.size() << "\n";
    for (const SynthInfo& info : synths)
        if (const std::optional<Synthesizer> synth = db.LoadSynth(info.number))
            out << "  " << info.name << "  (" << Summary(*synth) << ")\n";
    const std::vector<PortBinding> ports = db.Ports();
    out << "Ports     " << ports.size() << "\n";
    for (const PortBinding& port : ports) {
        const std::optional<SynthInfo> synth = db.QuerySynth(port.synthNumber);
        out << "  " << port.portName << "  " << (synth ? synth->name : "(no such synth)") << "  "
            << DrumChannels(port.drums) << "\n";
    }
    return ExitSuccess;
}

int ShowSynth(Session& session, const SynthArguments& arguments)
{
    const std::optional<Synthesizer> synth = FindSynth(session, arguments.name);
    if (!synth)
        return ExitFileUnusable;
    std::ostream& out = session.Out();
    const bool cc0Only = synth->Cc0Only();
    out << "Synth        " << synth->name << "\n";
    out << "Bank select  " << (cc0Only ? "CC0 only" : "controllers 0 and 32") << "\n";
    out << "MIDI reset   " << ResetText(synth->technology) << "\n";
    if (!synth->resetSysex.empty())
        out << "User reset   " << synth->resetSysex << "\n";
    for (const PortBinding& port : session.SynthDb().Ports())
        if (port.synthNumber == synth->number)
            out << "Port         " << port.portName << "  " << DrumChannels(port.drums) << "\n";
    out << "Patches\n";
    for (const SynthBank& bank : synth->banks) {
        out << "  " << BankText(bank.number, bank.name, cc0Only) << "\n";
        for (const SynthPatch& patch : bank.patches)
            out << "    " << PatchText(patch.number, patch.name)
                << (patch.category.empty() ? "" : "  [" + patch.category + "]") << "\n";
    }
    out << "Drumsets\n";
    for (const DrumSet& set : synth->drumSets) {
        out << "  " << DrumSetText(set.bank, set.program, set.name, cc0Only) << "\n";
        for (const DrumNote& note : set.notes)
            out << "    " << NumberText(note.number, note.name) << "\n";
    }
    out << "Controllers\n";
    for (const NamedNumber& controller : synth->controllers)
        out << "  " << NumberText(controller.number, controller.name) << "\n";
    out << "NRPN\n";
    for (const NamedNumber& nrpn : synth->nrpns)
        out << "  " << NumberText(nrpn.number, nrpn.name) << "\n";
    return ExitSuccess;
}

// A file names the synth it holds; importing it again replaces that synth (keeping its number, so the
// ports bound to it stay bound).
int ImportSynths(Session& session, const SynthArguments& arguments)
{
    SynthDatabase& db = session.SynthDb();
    int exitCode = ExitSuccess;
    for (const std::string& path : arguments.files) {
        std::string error;
        std::optional<SynthImport> read = ImportSynthFile(path, error);
        if (!read) {
            session.Err() << Prefix << error << " It is skipped.\n";
            exitCode = ExitFileUnusable;
            continue;
        }
        for (const std::string& message : read->messages)
            session.Err() << Prefix << path << ": " << message << "\n";
        const std::optional<SynthInfo> existing = db.FindSynth(read->synth.name);
        if (existing) {
            read->synth.number = existing->number;
            read->synth.technology = existing->technology;
            read->synth.resetSysex = existing->resetSysex;
        }
        if (SynthDbResult result = db.WriteSynth(read->synth); !result) {
            session.Err() << Prefix << result.message << "\n";
            exitCode = ExitFileUnusable;
            continue;
        }
        session.Out() << (existing ? "Replaced " : "Imported ") << read->synth.name << " (" << Summary(read->synth)
                      << ")\n";
    }
    return exitCode;
}

int ExportSynth(Session& session, const SynthArguments& arguments)
{
    const std::optional<Synthesizer> synth = FindSynth(session, arguments.name);
    if (!synth)
        return ExitFileUnusable;
    std::string error;
    if (!ExportSynthFile(*synth, arguments.file, error)) {
        session.Err() << Prefix << error << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Exported " << synth->name << " to " << arguments.file << "\n";
    return ExitSuccess;
}

int BindSynth(Session& session, const SynthArguments& arguments, bool drumsGiven)
{
    int32_t mask = 0;
    for (int channel : arguments.drums) {
        if (channel < 1 || channel > 16) {
            session.Err() << Prefix << "a drum channel is 1 to 16, not " << channel << "\n";
            return ExitUsage;
        }
        mask |= 1 << (channel - 1);
    }
    SynthDatabase& db = session.SynthDb();
    const std::optional<SynthInfo> synth = db.FindSynth(arguments.name);
    if (!synth) {
        session.Err() << Prefix << "there is no synth named \"" << arguments.name << "\" in " << db.Path()
                      << " (\"cantivo-cli synth list\" lists them)\n";
        return ExitFileUnusable;
    }
    if (arguments.port.empty() || arguments.port.size() > PortNameLength) {
        session.Err() << Prefix << "a port name has 1 to " << PortNameLength << " characters\n";
        return ExitUsage;
    }
    // Without --drums a port keeps its drum channels.
    if (!drumsGiven)
        if (const std::optional<PortBinding> old = db.QueryPort(arguments.port))
            mask = old->drums;
    if (SynthDbResult result = db.BindPort({arguments.port, synth->number, mask}); !result) {
        session.Err() << Prefix << result.message << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Bound " << arguments.port << " to " << synth->name << ", " << DrumChannels(mask) << "\n";
    return ExitSuccess;
}

} // namespace

CliCommand AddSynthCommand(CLI::App& tool, Session& session)
{
    auto arguments = std::make_shared<SynthArguments>();
    CLI::App* app = tool.add_subcommand("synth", "Lists, shows, imports, exports and binds the synths of the synth "
                                                 "database");
    app->require_subcommand(1);
    CLI::App* list = app->add_subcommand("list", "The synths with what they name, and the ports bound to them");
    CLI::App* show = app->add_subcommand("show", "A synth's banks, patches, drum sets, controllers and NRPN names");
    show->add_option("NAME", arguments->name, "The synth's name")->required();
    CLI::App* import = app->add_subcommand("import", "Reads synth data files (.txt), one synth each, named after "
                                                     "the file; a synth of that name is replaced");
    import->add_option("FILE", arguments->files, "The synth data files")->required();
    CLI::App* exportCommand = app->add_subcommand("export", "Writes a synth as a synth data file");
    exportCommand->add_option("NAME", arguments->name, "The synth's name")->required();
    exportCommand->add_option("FILE", arguments->file, "The file to write")->required();
    CLI::App* bind = app->add_subcommand("bind", "Binds an output port, by its name, to a synth");
    bind->add_option("PORT", arguments->port, "The output port's name (as \"cantivo-cli ports\" shows it)")->required();
    bind->add_option("SYNTH", arguments->name, "The synth's name")->required();
    CLI::Option* drums = bind->add_option("--drums", arguments->drums,
                                          "The port's drum channels, 1 to 16, for example 10,11 (default: as "
                                          "before, else none)")
                             ->delimiter(',');
    return {app, [&session, arguments, list, show, import, exportCommand, drums] {
                if (list->parsed())
                    return ListSynths(session);
                if (show->parsed())
                    return ShowSynth(session, *arguments);
                if (import->parsed())
                    return ImportSynths(session, *arguments);
                if (exportCommand->parsed())
                    return ExportSynth(session, *arguments);
                return BindSynth(session, *arguments, drums->count() > 0);
            }};
}

} // namespace cantivo
