#include "cli/Commands.h"
#include "rig/Session.h"

#include "app/ControlMapStore.h"
#include "platform/RtMidiBackend.h"
#include "playback/MicrosecondClock.h"
#include "playback/MidiInPort.h"
#include "playback/NotificationQueue.h"
#include "playback/PortTable.h"
#include "song/AtomicFile.h"
#include "song/MidiFileReader.h"

#include <cctype>
#include <chrono>
#include <ostream>
#include <thread>

namespace cantivo {

namespace {

struct ControlArguments {
    std::string name;
    std::string file;
    std::string action;
    double timeout = 30;
};

std::string EntryText(const ControlEntry& entry, const std::vector<std::string>& inputs)
{
    const int port = entry.Port();
    std::string text =
        static_cast<size_t>(port) < inputs.size() ? inputs[static_cast<size_t>(port)] : "input " + std::to_string(port);
    text += "  channel " + std::to_string(entry.Channel() + 1);
    text += entry.Controller() != 0 || entry.Key() == 0 ? "  controller " + std::to_string(entry.Controller())
                                                        : "  controller <None>";
    text += entry.Key() != 0 ? "  key " + std::to_string(entry.Key()) : "  key <None>";
    return text + "  " + ControlActionName(static_cast<int>(entry.Action()));
}

// The inputs that opened, numbered and named as `play` numbers them, so a learnt entry's port field
// names the same input there.
std::vector<std::string> InputNames(MidiPortList& ports)
{
    std::vector<std::string> names;
    for (const auto& port : ports.inputs)
        if (port.device)
            names.push_back(port.device->Name());
    return PortTable::UniqueNames(names);
}

int List(Session& session)
{
    const ControlMapStore store(*session.Context().profile);
    std::ostream& out = session.Out();
    out << "External control " << (store.Enabled() ? "on" : "off") << "; the map in use: \"" << store.UseWhich()
        << "\"\n";
    const std::vector<ControlMap> maps = store.Maps();
    if (maps.empty())
        out << "  (no map stored)\n";
    for (const ControlMap& map : maps)
        out << (map.name == store.UseWhich() ? "* " : "  ") << map.name << "  " << map.entries.size() << " entries\n";
    return ExitSuccess;
}

int Show(Session& session, const ControlArguments& arguments)
{
    const ControlMapStore store(*session.Context().profile);
    const std::string name = arguments.name.empty() ? store.UseWhich() : arguments.name;
    const std::optional<ControlMap> map = store.Find(name);
    if (!map && !arguments.name.empty()) {
        session.Err() << "cantivo-cli control: there is no control map \"" << name << "\"\n";
        return ExitFileUnusable;
    }
    SteadyMicrosecondClock clock;
    MidiPortList ports = RtMidiBackend::Enumerate(clock);
    const std::vector<std::string> inputs = InputNames(ports);
    std::ostream& out = session.Out();
    out << "Map \"" << name << "\"\n";
    if (!map || map->entries.empty())
        out << "  (no entries)\n";
    if (map)
        for (const ControlEntry& entry : map->entries)
            out << "  " << EntryText(entry, inputs) << "\n";
    return ExitSuccess;
}

int Import(Session& session, const ControlArguments& arguments)
{
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(arguments.file, bytes)) {
        session.Err() << "cantivo-cli control: " << arguments.file << " can not be read\n";
        return ExitFileUnusable;
    }
    ControlMapStore store(*session.Context().profile);
    Prompter& prompter = *session.Context().prompter;
    std::string error;
    const std::vector<std::string> imported = store.Import(
        bytes,
        [&prompter](const std::string& name) {
            return prompter.Ask(OverwriteQuestion(name), PromptButtons::YesNo, PromptIcon::Question);
        },
        error);
    for (const std::string& name : imported)
        session.Out() << "Imported \"" << name << "\"\n";
    if (!error.empty()) {
        session.Err() << "cantivo-cli control: " << arguments.file << ": " << error
                      << (imported.empty() ? " Nothing was imported.\n" : " The maps before it were imported.\n");
        return ExitFileUnusable;
    }
    return ExitSuccess;
}

int Export(Session& session, const ControlArguments& arguments)
{
    const std::vector<ControlMap> maps = ControlMapStore(*session.Context().profile).Maps();
    DiskSaveFiles files;
    std::string error;
    if (!ReplaceFile(files, arguments.file, ControlMapFileBytes(maps), "", error)) {
        session.Err() << "cantivo-cli control: " << error << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Exported " << maps.size() << " maps to " << arguments.file << "\n";
    return ExitSuccess;
}

int Use(Session& session, const ControlArguments& arguments)
{
    if (arguments.name.empty()) {
        session.Err() << "cantivo-cli control use: give the name of a map\n";
        return ExitUsage;
    }
    ControlMapStore store(*session.Context().profile);
    if (!store.Use(arguments.name)) {
        session.Err() << "cantivo-cli control: the settings could not be written\n";
        return ExitFileUnusable;
    }
    session.Out() << "The control map in use is now \"" << store.UseWhich() << "\""
                  << (store.Find(arguments.name) ? ""
                                                 : "; no such map is stored yet, so it is empty until "
                                                   "\"control learn\" or \"control import\" fills it")
                  << (store.Enabled() ? "" : " (external control is off: \"Enabled\" is 0)") << ".\n";
    return ExitSuccess;
}

// The action by its listed name (any case) or its code.
std::optional<ControlAction> ActionNamed(const std::string& text)
{
    const auto lower = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    for (int code = 1; code < ControlActionCount; ++code)
        if (lower(ControlActionName(code)) == lower(text) || std::to_string(code) == text)
            return static_cast<ControlAction>(code);
    return std::nullopt;
}

int Learn(Session& session, const ControlArguments& arguments)
{
    std::ostream& err = session.Err();
    const std::optional<ControlAction> action = ActionNamed(arguments.action);
    if (!action) {
        err << "cantivo-cli control learn: \"" << arguments.action << "\" is no action. The actions are:";
        for (int code = 1; code < ControlActionCount; ++code)
            err << " \"" << ControlActionName(code) << "\"";
        err << ".\n";
        return ExitUsage;
    }
    SteadyMicrosecondClock clock;
    MidiPortList ports = RtMidiBackend::Enumerate(clock);
    const std::vector<std::string> names = InputNames(ports);
    NotificationQueue queue;
    ControlLearner learner;
    std::vector<std::unique_ptr<MidiInPort>> listening;
    std::vector<MidiInDevice*> started;
    int index = 0;
    for (auto& input : ports.inputs) {
        if (!input.device)
            continue;
        auto port = std::make_unique<MidiInPort>(index, names[static_cast<size_t>(index)], queue);
        ++index;
        port->Connect(nullptr, nullptr, &learner);
        if (input.device->Start(*port)) {
            started.push_back(input.device.get());
            listening.push_back(std::move(port));
        }
    }
    if (listening.empty()) {
        err << "cantivo-cli control learn: there is no MIDI input to learn from."
            << (ports.notice.empty() ? "" : " " + ports.notice) << "\n";
        return ExitFileUnusable;
    }
    learner.Arm();
    err << "Press the pedal, key or controller for \"" << ControlActionName(static_cast<int>(*action)) << "\" (within "
        << arguments.timeout << " s)...\n";
    std::optional<ControlLearner::Heard> heard;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(arguments.timeout);
    while (!heard && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        heard = learner.Take();
    }
    for (MidiInDevice* device : started)
        device->Stop();
    if (!heard) {
        err << "cantivo-cli control learn: nothing was heard; nothing was stored.\n";
        return ExitFileUnusable;
    }
    ControlMapStore store(*session.Context().profile);
    std::string error;
    const std::optional<ControlEntry> entry = store.Learn(*heard, *action, error);
    if (!entry) {
        err << "cantivo-cli control learn: " << error << "\n";
        return ExitFileUnusable;
    }
    session.Out() << "Bound in \"" << store.UseWhich() << "\": " << EntryText(*entry, names) << "\n";
    return ExitSuccess;
}

} // namespace

CliCommand AddControlCommand(CLI::App& tool, Session& session)
{
    auto arguments = std::make_shared<ControlArguments>();
    CLI::App* app = tool.add_subcommand("control", "Lists, shows, exchanges and learns the MIDI control maps");
    app->require_subcommand(1);
    CLI::App* list = app->add_subcommand("list", "The stored maps; * marks the one in use");
    CLI::App* show = app->add_subcommand("show", "The entries of a map (default: the one in use)");
    show->add_option("NAME", arguments->name, "The map");
    CLI::App* import = app->add_subcommand("import", "Stores the maps of a control map file (.dat)");
    import->add_option("FILE", arguments->file, "The file")->required();
    CLI::App* exporting = app->add_subcommand("export", "Writes every stored map to a control map file (.dat)");
    exporting->add_option("FILE", arguments->file, "The file")->required();
    CLI::App* learn = app->add_subcommand("learn", "Binds the next pedal, key or controller heard to ACTION");
    learn->add_option("ACTION", arguments->action, "The action, by its name (\"Play/Tap (Cue)\") or code")->required();
    learn->add_option("--timeout", arguments->timeout, "Seconds to wait (default 30)");
    CLI::App* use = app->add_subcommand("use", "Makes NAME the map in use (\"UseWhich\")");
    use->add_option("NAME", arguments->name, "The map")->required();
    return {app, [&session, arguments, list, show, import, exporting, use] {
                if (use->parsed())
                    return Use(session, *arguments);
                if (list->parsed())
                    return List(session);
                if (show->parsed())
                    return Show(session, *arguments);
                if (import->parsed())
                    return Import(session, *arguments);
                if (exporting->parsed())
                    return Export(session, *arguments);
                return Learn(session, *arguments);
            }};
}

} // namespace cantivo
