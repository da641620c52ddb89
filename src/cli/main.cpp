#include "cli/Commands.h"
#include "rig/Session.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

// CLI11 reports a mistyped subcommand only as "a subcommand is required"; name the word instead.
void ReportUnknownSubcommand(const CLI::App& tool, int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--config" || word == "--data-dir") {
            ++i; // its value
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        bool known = false;
        for (const CLI::App* command : tool.get_subcommands({}))
            known = known || command->check_name(word);
        if (!known)
            std::cerr << "cantivo-cli: there is no subcommand \"" << word << "\".\n";
        return;
    }
}

int Run(int argc, char** argv)
{
    using namespace cantivo;
    Session session(std::cout, std::cerr);
    CLI::App tool{"Cantivo's command-line tool: reads, converts, plays and renders songs.", "cantivo-cli"};
    tool.add_option("--config", session.options.configPath,
                    "Settings file to use (default: $CANTIVO_CONFIG, else $XDG_CONFIG_HOME/Cantivo/Cantivo.ini)");
    tool.add_option("--data-dir", session.options.dataDir,
                    "Folder of the synth database cv.db (default: $CANTIVO_DATA, else $XDG_DATA_HOME/Cantivo)");
    CLI::Option* yes = tool.add_flag("-y,--yes", session.options.yes, "Answer Yes (OK) to every question");
    CLI::Option* no = tool.add_flag("-n,--no", session.options.no, "Answer No (Cancel) to every question");
    yes->excludes(no);
    tool.require_subcommand(1);
    // Global options may stand after the subcommand too: "cantivo-cli info song.mid --yes".
    tool.fallthrough();
    tool.footer("Environment: CANTIVO_CONFIG names the settings file (as --config does), CANTIVO_DATA the synth "
                "database's folder (as --data-dir does).\n"
                "Exit codes: 0 success, 1 the file could not be used, 2 a usage error.");

    const std::vector<CliCommand> commands = {AddInfoCommand(tool, session),    AddDumpCommand(tool, session),
                                              AddConvertCommand(tool, session), AddPortsCommand(tool, session),
                                              AddPlayCommand(tool, session),    AddRenderCommand(tool, session),
                                              AddSetCommand(tool, session),     AddSynthCommand(tool, session),
                                              AddKeysCommand(tool, session),    AddControlCommand(tool, session)};
    try {
        tool.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help requests exit 0; every other parse error is a usage error.
        if (error.get_exit_code() == 0)
            return tool.exit(error) == 0 ? ExitSuccess : ExitUsage;
        ReportUnknownSubcommand(tool, argc, argv);
        tool.exit(error);
        return ExitUsage;
    }
    session.Start();
    for (const CliCommand& command : commands)
        if (command.app->parsed())
            return command.run();
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        // Nothing should get here; if something does, say so plainly instead of aborting.
        std::cerr << "cantivo-cli: " << error.what() << '\n';
        return cantivo::ExitFileUnusable;
    }
}
