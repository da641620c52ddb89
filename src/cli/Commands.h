#pragma once

#include <CLI/CLI.hpp>

#include <functional>

namespace cantivo {

class Session;

// A subcommand: its parser (a child of the tool's) and what runs it once the command line is parsed,
// giving the exit code.
struct CliCommand {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

CliCommand AddInfoCommand(CLI::App& tool, Session& session);
CliCommand AddDumpCommand(CLI::App& tool, Session& session);
CliCommand AddConvertCommand(CLI::App& tool, Session& session);
CliCommand AddPortsCommand(CLI::App& tool, Session& session);
CliCommand AddPlayCommand(CLI::App& tool, Session& session);
CliCommand AddRenderCommand(CLI::App& tool, Session& session);
CliCommand AddSetCommand(CLI::App& tool, Session& session);
CliCommand AddControlCommand(CLI::App& tool, Session& session);
CliCommand AddSynthCommand(CLI::App& tool, Session& session);
CliCommand AddKeysCommand(CLI::App& tool, Session& session);

} // namespace cantivo
