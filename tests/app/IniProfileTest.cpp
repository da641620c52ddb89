#include "app/IniProfile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

class IniProfileTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        path = (folder / "Cantivo.ini").string();
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(folder, ignored);
    }

    static std::string ReadFile(const std::string& name)
    {
        std::ostringstream text;
        text << std::ifstream(name, std::ios::binary).rdbuf();
        return text.str();
    }
    static void WriteFile(const std::string& name, const std::string& text) { std::ofstream(name) << text; }
    // The store read back from the file itself: a copy under a new name, because stores on one path
    // share what was read from it within a process.
    std::string CopyOfStore()
    {
        const std::string copy = (folder / ("copy" + std::to_string(++copies) + ".ini")).string();
        fs::copy_file(path, copy);
        return copy;
    }
    // The folder holds the store and nothing else: no temporary file left behind.
    bool OnlyTheStoreIsThere() const
    {
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename() != "Cantivo.ini" && !entry.path().filename().string().starts_with("copy"))
                return false;
        return true;
    }

    fs::path folder;
    std::string path;
    int copies = 0;
};

TEST_F(IniProfileTest, TextsAndNamesOfAnyCharactersRoundTripThroughTheFile)
{
    const std::vector<std::string> texts = {"",
                                            "a=b=c",
                                            "; looks like a comment",
                                            "# looks like a comment",
                                            "[Looks like a section]",
                                            "  blanks at both ends  ",
                                            "two\nlines",
                                            "windows\r\nline",
                                            "tab\there\t",
                                            "back\\slash at end\\",
                                            "\\x41 is not an A",
                                            "a,b, c",
                                            "@ByteArray(not bytes)",
                                            "@@",
                                            "semi;colon",
                                            "\"quoted\"",
                                            " ",
                                            std::string("nul\0inside", 10),
                                            "\x01\x1F\x7F controls",
                                            "UTF-8: \xC3\xBC \xE9\x9F\xB3 and \xFF\xFE not UTF-8"};
    const std::vector<std::pair<std::string, std::string>> names = {{"Close]Bracket", "Equals=Sign"},
                                                                    {" Blank ", " Blank "},
                                                                    {"[Open", ";Semi"},
                                                                    {"Back\\Slash", "Line\nBreak"},
                                                                    {"Sl/ash", "%41 per cent"},
                                                                    {"General", "\xC3\xBC"},
                                                                    {"Not \xFF UTF-8", "%"},
                                                                    {"", ""}};
    {
        IniProfile profile(path);
        for (size_t i = 0; i < texts.size(); ++i)
            ASSERT_TRUE(profile.WriteString("Texts", "Value" + std::to_string(i), texts[i])) << profile.LastError();
        for (size_t i = 0; i < names.size(); ++i)
            ASSERT_TRUE(profile.WriteInt(names[i].first, names[i].second, static_cast<int32_t>(i + 100)));
    }
    IniProfile reread(CopyOfStore());
    EXPECT_FALSE(reread.TakeWarning().has_value());
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(reread.GetString("Texts", "Value" + std::to_string(i), "<absent>"), texts[i]) << "text " << i;
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(reread.GetInt(names[i].first, names[i].second, -1), static_cast<int32_t>(i + 100)) << "name " << i;
}

TEST_F(IniProfileTest, HandEditedFileReadsWithIntegersOrTheirFallback)
{
    struct Case {
        const char* text;
        int32_t expected;
    };
    // 4294967295 is how a registry DWORD of -1 was exported.
    const Case cases[] = {{"  42  ", 42},      {"-2147483648", INT32_MIN},
                          {"4294967295", -1},  {"+7", 7},
                          {"+-7", -99},        {"- 7", -99},
                          {"", -99},           {"12abc", -99},
                          {"4294967296", -99}, {"-2147483649", -99},
                          {"0x10", -99}};
    std::string file = "\xEF\xBB\xBF; settings\r\n\r\n[Numbers]\r\n# note\r\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        file += "N" + std::to_string(i) + " = " + cases[i].text + "\r\n";
    WriteFile(path, file + "Twice=1\n[Other]\nA=1\nList = Smith,  John ; a comment\n[Numbers]\nTwice=2\n");
    IniProfile profile(path);
    EXPECT_FALSE(profile.TakeWarning().has_value());
    EXPECT_EQ(profile.GetInt("Numbers", "Twice", -99), 2) << "a later duplicate counts";
    EXPECT_EQ(profile.GetString("other", "LIST", ""), "Smith, John") << "an unquoted comma does not split the text";
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(profile.GetInt("Numbers", "N" + std::to_string(i), -99), cases[i].expected) << cases[i].text;

    // Names match without regard to case and keep the spelling of their first write.
    ASSERT_TRUE(profile.WriteInt("KeyMap", "Enabled", 0));
    ASSERT_TRUE(profile.WriteInt("KEYMAP", "ENABLED", INT32_MIN));
    EXPECT_EQ(IniProfile(path).GetInt("keymap", "enabled", 5), INT32_MIN);
    EXPECT_NE(ReadFile(path).find("[KeyMap]\nEnabled=-2147483648"), std::string::npos) << ReadFile(path);
}

TEST_F(IniProfileTest, ReadingNeverWritesAndAnUnchangedWriteLeavesTheFileAlone)
{
    {
        IniProfile empty(path);
        EXPECT_EQ(empty.GetInt("PlaybackOptions", "AdvanceWait", 1000), 1000);
        EXPECT_FALSE(empty.GetBinary("AccelMap", "Default").has_value());
    }
    EXPECT_FALSE(fs::exists(path)) << "a read must not create the store";

    IniProfile profile(path);
    ASSERT_TRUE(profile.WriteInt("PlaybackOptions", "AutoAdvance", 2));
    const std::string before = ReadFile(path);
    struct stat statBefore {};
    ASSERT_EQ(::stat(path.c_str(), &statBefore), 0);
    EXPECT_EQ(profile.GetInt("PlaybackOptions", "AdvanceWait", 1000), 1000);
    ASSERT_TRUE(profile.WriteString("playbackoptions", "autoadvance", "2"));
    struct stat statAfter {};
    ASSERT_EQ(::stat(path.c_str(), &statAfter), 0);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(statAfter.st_ino, statBefore.st_ino) << "an unchanged value must not rewrite the file";
}

TEST_F(IniProfileTest, BinaryMapsAreKeptApartFromTheSectionValuesOfTheSameKey)
{
    const std::vector<uint8_t> defaultMap = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    {
        IniProfile profile(path);
        ASSERT_TRUE(profile.WriteInt("AccelMap", "Enabled", 0));
        ASSERT_TRUE(profile.WriteBinary("AccelMap", "Default", defaultMap));
        ASSERT_TRUE(profile.WriteBinary("AccelMap", "Stage", {0xDE, 0xAD}));
        ASSERT_TRUE(profile.WriteBinary("AccelMap", "Enabled", {}));
    }
    IniProfile profile(path);
    EXPECT_EQ(profile.EnumValues("accelmap"), (std::vector<std::string>{"Default", "Enabled", "Stage"}));
    EXPECT_EQ(profile.GetBinary("AccelMap", "Default"), defaultMap);
    EXPECT_EQ(profile.GetBinary("AccelMap", "Enabled"), std::vector<uint8_t>{});
    EXPECT_EQ(profile.GetInt("AccelMap", "Enabled", 1), 0);

    ASSERT_TRUE(profile.DeleteValue("AccelMap", "Stage"));
    EXPECT_FALSE(profile.DeleteValue("AccelMap", "Stage"));
    EXPECT_FALSE(profile.LastError().empty());
    IniProfile reread(CopyOfStore());
    EXPECT_EQ(reread.EnumValues("AccelMap"), (std::vector<std::string>{"Default", "Enabled"}));
    EXPECT_EQ(reread.GetBinary("AccelMap", "Default"), defaultMap);
    EXPECT_EQ(reread.GetInt("AccelMap", "Enabled", 1), 0) << "deleting a map must not touch the section values";

    WriteFile(path, "[AccelMap]\nMaps\\Text=0aFf\nMaps\\Good=@ByteArray(\\n\\xff)\n");
    IniProfile handWritten(CopyOfStore());
    EXPECT_FALSE(handWritten.GetBinary("AccelMap", "Text").has_value()) << "text is not a binary value";
    EXPECT_EQ(handWritten.GetBinary("AccelMap", "Good"), (std::vector<uint8_t>{0x0A, 0xFF}));
}

TEST_F(IniProfileTest, DamagedFileIsReportedOnceReadAsEmptyAndKeptAsideOnTheFirstWrite)
{
    const std::vector<std::string> damaged = {
        std::string("[Section]\nA=1\0\x01\x02", 15),
        "[Section]\nA=1\n[Unclosed\nA=2\n",
        "[Section]\nA=1\njust some words\n",
    };
    for (const std::string& content : damaged) {
        SCOPED_TRACE(content);
        fs::remove(path + ".bad");
        WriteFile(path, content);
        IniProfile profile(path);
        const auto warning = profile.TakeWarning();
        ASSERT_TRUE(warning.has_value());
        EXPECT_NE(warning->find(path), std::string::npos);
        EXPECT_FALSE(profile.TakeWarning().has_value()) << "reported once";
        EXPECT_EQ(profile.GetInt("Section", "A", 5), 5);

        ASSERT_TRUE(profile.WriteInt("Section", "B", 2)) << profile.LastError();
        EXPECT_FALSE(profile.TakeWarning().has_value());
        EXPECT_EQ(ReadFile(path + ".bad"), content) << "the damaged file must not be lost";
        IniProfile reread(CopyOfStore());
        EXPECT_FALSE(reread.TakeWarning().has_value());
        EXPECT_EQ(reread.GetInt("Section", "B", 0), 2);
        EXPECT_EQ(reread.GetInt("Section", "A", 5), 5) << "nothing of the damaged file is carried over";
    }

    fs::remove(path);
    fs::create_directory(path); // a store that is not a file
    IniProfile folderStore(path);
    EXPECT_TRUE(folderStore.TakeWarning().has_value());
    EXPECT_EQ(folderStore.GetString("A", "B", "default"), "default");
}

// A write that fails, partway (a full disk) or at once (no folder), reports why and leaves the old file
// whole with no temporary file beside it.
TEST_F(IniProfileTest, FailedWriteLeavesTheOldFileWhole)
{
    IniProfile profile(path);
    ASSERT_TRUE(profile.WriteString("Big", "Old", "kept"));
    const std::string before = ReadFile(path);

    // The file size limit stops the write of the temporary file partway.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool wrote = profile.WriteString("Big", "New", std::string(20000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(profile.LastError().empty());
    EXPECT_EQ(profile.GetString("Big", "New", "absent"), "absent") << "a failed write must not show as stored";
    EXPECT_EQ(profile.GetString("Big", "Old", ""), "kept");

    // Root writes anywhere; a folder path through a plain file fails for everyone.
    IniProfile blocked((fs::path(path) / "sub" / "Cantivo.ini").string());
    EXPECT_FALSE(blocked.WriteInt("A", "B", 2));
    EXPECT_FALSE(blocked.LastError().empty());
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(OnlyTheStoreIsThere());

    // A folder that is merely missing is made.
    const std::string nested = (folder / "config" / "Cantivo" / "Cantivo.ini").string();
    ASSERT_TRUE(IniProfile(nested).WriteString("SongDefaults", "Author", "Me"));
    EXPECT_EQ(IniProfile(nested).GetString("SongDefaults", "Author", ""), "Me");
}

// A desktop and a stage player write the same file at once: each overwrites its own values and one
// shared value many times; neither may lose a value of the other, in between or at the end.
TEST_F(IniProfileTest, TwoProcessesWritingAtOnceKeepEachOthersValues)
{
    constexpr int Rounds = 50;
    constexpr int Keys = 3;
    const auto expected = [](int round) { return 100000 + round; }; // all values one length
    pid_t children[2] = {};
    for (int player = 0; player < 2; ++player) {
        children[player] = ::fork();
        ASSERT_GE(children[player], 0);
        if (children[player] != 0)
            continue;
        int lost = 0;
        IniProfile profile(path);
        const std::string section = "Player" + std::to_string(player);
        for (int round = 0; round < Rounds; ++round) {
            if (!profile.WriteInt(section, "K" + std::to_string(round % Keys), expected(round)) ||
                !profile.WriteInt("Shared", "Last", player * Rounds + round))
                ::_exit(100);
            // The values of the rounds before must still be there as this process wrote them.
            profile.Reload();
            for (int before = std::max(0, round - Keys + 1); before <= round; ++before)
                lost += profile.GetInt(section, "K" + std::to_string(before % Keys), -1) != expected(before);
        }
        ::_exit(lost == 0 ? 0 : 1);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
    IniProfile reread(CopyOfStore());
    for (int player = 0; player < 2; ++player)
        for (int round = Rounds - Keys; round < Rounds; ++round)
            EXPECT_EQ(reread.GetInt("Player" + std::to_string(player), "K" + std::to_string(round % Keys), -1),
                      expected(round));
    const int last = reread.GetInt("Shared", "Last", -1);
    EXPECT_TRUE(last == Rounds - 1 || last == 2 * Rounds - 1) << last;
    EXPECT_TRUE(OnlyTheStoreIsThere()) << "no lock or temporary file is left behind";
}

TEST(IniProfilePath, ResolvesOptionThenEnvironmentThenXdgThenHome)
{
    struct Case {
        const char* option;
        const char* cantivoConfig;
        const char* xdgConfigHome;
        const char* expected;
    };
    const Case cases[] = {
        {"/opt/option.ini", "/env/cantivo.ini", "/xdg", "/opt/option.ini"},
        {"", "/env/cantivo.ini", "/xdg", "/env/cantivo.ini"},
        {"", "", "/xdg", "/xdg/Cantivo/Cantivo.ini"},
        {"", nullptr, "relative/xdg", "/home/player/.config/Cantivo/Cantivo.ini"},
        {"", nullptr, nullptr, "/home/player/.config/Cantivo/Cantivo.ini"},
    };
    const auto set = [](const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"CANTIVO_CONFIG", "XDG_CONFIG_HOME", "HOME"})
        saved.emplace_back(name, std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt);
    set("HOME", "/home/player");
    for (const Case& c : cases) {
        set("CANTIVO_CONFIG", c.cantivoConfig);
        set("XDG_CONFIG_HOME", c.xdgConfigHome);
        EXPECT_EQ(IniProfile::ResolvePath(c.option), c.expected) << c.expected;
    }
    for (const auto& [name, value] : saved)
        set(name, value ? value->c_str() : nullptr);
}

} // namespace
} // namespace cantivo
