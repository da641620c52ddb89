#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include <sys/wait.h>

namespace cantivo::test {

// A word for the shell, quoted so that nothing in it is interpreted.
inline std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A private folder for one test, removed with everything in it when the test ends.
struct TempFolder {
    explicit TempFolder(const std::string& prefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path path;
};

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

// Runs the command-line tool with `environment` (shell assignments, "A=1 B=2") and `args`, stdin
// closed; its output goes through files in `folder`, so a test sees exactly what a user would.
inline RunResult RunCli(const std::filesystem::path& folder, const std::string& environment,
                        const std::vector<std::string>& args)
{
    std::string command = environment + " " + Quote(CANTIVO_CLI_PATH);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    command += " >" + Quote((folder / "out.txt").string()) + " 2>" + Quote((folder / "err.txt").string());
    const int status = std::system((command + " </dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(folder / "out.txt"), ReadFile(folder / "err.txt")};
}

} // namespace cantivo::test
