#pragma once

#include <CLI/CLI.hpp>

#include <functional>

namespace cantivo {

class CliSession;

// A subcommand: its parser (a child of the tool's) and what runs it once the command line is parsed,
// giving the exit code.
struct CliCommand {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

CliCommand AddInfoCommand(CLI::App& tool, CliSession& session);
CliCommand AddDumpCommand(CLI::App& tool, CliSession& session);
CliCommand AddConvertCommand(CLI::App& tool, CliSession& session);
CliCommand AddPortsCommand(CLI::App& tool, CliSession& session);
CliCommand AddPlayCommand(CLI::App& tool, CliSession& session);
CliCommand AddRenderCommand(CLI::App& tool, CliSession& session);
CliCommand AddSetCommand(CLI::App& tool, CliSession& session);
CliCommand AddControlCommand(CLI::App& tool, CliSession& session);
CliCommand AddSynthCommand(CLI::App& tool, CliSession& session);
CliCommand AddKeysCommand(CLI::App& tool, CliSession& session);

} // namespace cantivo
