#include "cli/CliSession.h"
#include "cli/Commands.h"

#include <exception>
#include <iostream>
#include <vector>

namespace {

int Run(int argc, char** argv)
{
    using namespace cantivo;
    CliSession session(std::cout, std::cerr);
    CLI::App tool{"Cantivo's command-line tool: reads songs and shows what they hold.", "cantivo-cli"};
    tool.add_option("--config", session.options.configPath,
                    "Settings file to use (default: $CANTIVO_CONFIG, else $XDG_CONFIG_HOME/Cantivo/Cantivo.ini)");
    CLI::Option* yes = tool.add_flag("-y,--yes", session.options.yes, "Answer Yes (OK) to every question");
    CLI::Option* no = tool.add_flag("-n,--no", session.options.no, "Answer No (Cancel) to every question");
    yes->excludes(no);
    tool.require_subcommand(1);
    // Global options may stand after the subcommand too: "cantivo-cli info song.mid --yes".
    tool.fallthrough();

    const std::vector<CliCommand> commands = {AddInfoCommand(tool, session), AddDumpCommand(tool, session)};
    try {
        tool.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help requests exit 0; every other parse error is a usage error.
        return tool.exit(error) == 0 ? ExitSuccess : ExitUsage;
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
