// The files that tie the program into the desktop: the launcher, the set file type and the icon must
// agree with each other, and the launcher must pass the desktop's own validator where it is installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path DesktopFolder()
{
    return fs::path(CANTIVO_SOURCE_DIR) / "data" / "desktop";
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The keys of the "[Desktop Entry]" group.
std::map<std::string, std::string> DesktopEntry(const fs::path& path)
{
    std::map<std::string, std::string> keys;
    std::ifstream file(path);
    std::string line;
    bool inEntry = false;
    while (std::getline(file, line)) {
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const size_t equals = line.find('=');
        if (inEntry && equals != std::string::npos)
            keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

TEST(DesktopFiles, LauncherOpensSetsAndSongs)
{
    const auto entry = DesktopEntry(DesktopFolder() / "cantivo.desktop");
    ASSERT_FALSE(entry.empty()) << "no [Desktop Entry] in " << DesktopFolder() / "cantivo.desktop";
    EXPECT_EQ(entry.at("Exec"), "cantivo %F");
    EXPECT_EQ(entry.at("Type"), "Application");
    EXPECT_EQ(entry.at("Icon"), "cantivo");
    EXPECT_TRUE(fs::is_regular_file(DesktopFolder() / (entry.at("Icon") + ".svg")));
    const std::string types = entry.at("MimeType");
    EXPECT_NE(types.find("application/x-cantivo-set;"), std::string::npos);
    EXPECT_NE(types.find("audio/midi;"), std::string::npos);
}

TEST(DesktopFiles, SetFileTypeIsDeclared)
{
    const std::string package = ReadAll(DesktopFolder() / "cantivo-set.xml");
    EXPECT_TRUE(std::regex_search(package, std::regex(R"(<mime-type type="application/x-cantivo-set">)")));
    EXPECT_TRUE(std::regex_search(package, std::regex(R"(<glob pattern="\*\.set"/>)")));
    EXPECT_TRUE(std::regex_search(package, std::regex(R"(<comment>Cantivo Set</comment>)")));
    EXPECT_NE(ReadAll(DesktopFolder() / "cantivo.svg").find("<svg"), std::string::npos);
}

TEST(DesktopFiles, LauncherPassesTheValidator)
{
    if (std::system("command -v desktop-file-validate > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed (Debian: desktop-file-utils)";
    const std::string command = "desktop-file-validate '" + (DesktopFolder() / "cantivo.desktop").string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

} // namespace
