#include "app/IniProfile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
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
        std::ifstream in(name, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void WriteFile(const std::string& name, const std::string& text)
    {
        std::ofstream(name, std::ios::binary) << text;
    }
    // Files in the folder other than the store itself (temporary files left behind, kept copies).
    std::vector<std::string> OtherFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename() != "Cantivo.ini")
                names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path folder;
    std::string path;
};

TEST_F(IniProfileTest, StringsOfAnyCharactersRoundTripThroughTheFile)
{
    const std::vector<std::string> texts = {
        "",
        "plain",
        "a=b=c",
        "semi;colon",
        "; looks like a comment",
        "# looks like a comment",
        "[Looks like a section]",
        "  leading blanks",
        "trailing blanks  ",
        " ",
        "two\nlines",
        "windows\r\nline",
        "tab\there\t",
        "back\\slash at end\\",
        "\\n is not a newline",
        "\\x41 is not an A",
        "UTF-8: \xC3\xBC \xE9\x9F\xB3",
        std::string("nul\0inside", 10),
        "\x01\x1F\x7F controls",
        "\xFF\xFE not UTF-8",
    };
    {
        IniProfile profile(path);
        for (size_t i = 0; i < texts.size(); ++i)
            ASSERT_TRUE(profile.WriteString("Texts", "Value" + std::to_string(i), texts[i])) << profile.LastError();
    }
    IniProfile reread(path);
    EXPECT_FALSE(reread.TakeWarning().has_value());
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(reread.GetString("Texts", "Value" + std::to_string(i), "<absent>"), texts[i]) << "case " << i;
}

TEST_F(IniProfileTest, OddSectionAndValueNamesRoundTrip)
{
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Plain", "Name"},  {"Close]Bracket", "Equals=Sign"}, {" Blank ", " Blank "},        {"[Open", ";Semi"},
        {"#Hash", "#Hash"}, {"Back\\Slash", "Line\nBreak"},   {"Recent Song List", "Song1"}, {"", ""},
    };
    {
        IniProfile profile(path);
        for (size_t i = 0; i < names.size(); ++i)
            ASSERT_TRUE(profile.WriteInt(names[i].first, names[i].second, static_cast<int32_t>(i + 100)));
    }
    IniProfile reread(path);
    EXPECT_FALSE(reread.TakeWarning().has_value());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(reread.GetInt(names[i].first, names[i].second, -1), static_cast<int32_t>(i + 100)) << "case " << i;
}

TEST_F(IniProfileTest, IntegersReadFromHandEditedTextOrFallBack)
{
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"42", 42},
        {"  42  ", 42},
        {"-2147483648", INT32_MIN},
        {"2147483647", INT32_MAX},
        {"4294967295", -1}, // a registry DWORD
        {"+7", 7},
        {"+-7", -99},
        {"- 7", -99},
        {"", -99},
        {"12abc", -99},
        {"4294967296", -99},
        {"-2147483649", -99},
        {"0x10", -99},
        {"seven", -99},
    };
    std::string file = "[Numbers]\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        file += "N" + std::to_string(i) + "=" + cases[i].text + "\n";
    WriteFile(path, file);
    IniProfile profile(path);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(profile.GetInt("Numbers", "N" + std::to_string(i), -99), cases[i].expected) << cases[i].text;

    for (int32_t number : {INT32_MIN, -1, 0, 1, INT32_MAX}) {
        ASSERT_TRUE(profile.WriteInt("Numbers", "Written", number));
        EXPECT_EQ(IniProfile(path).GetInt("Numbers", "Written", 5), number);
    }
}

TEST_F(IniProfileTest, ReadingDefaultsNeverWritesAndAnUnchangedWriteLeavesTheFileAlone)
{
    {
        IniProfile empty(path);
        EXPECT_EQ(empty.GetInt("PlaybackOptions", "AdvanceWait", 1000), 1000);
        EXPECT_EQ(empty.GetString("SongDefaults", "Author", "nobody"), "nobody");
        EXPECT_FALSE(empty.GetBinary("AccelMap", "Default").has_value());
        EXPECT_TRUE(empty.EnumValues("AccelMap").empty());
    }
    EXPECT_FALSE(fs::exists(path)) << "a read must not create the store";

    IniProfile profile(path);
    ASSERT_TRUE(profile.WriteInt("PlaybackOptions", "AutoAdvance", 2));
    const std::string before = ReadFile(path);
    struct stat statBefore {};
    ASSERT_EQ(::stat(path.c_str(), &statBefore), 0);

    EXPECT_EQ(profile.GetInt("PlaybackOptions", "AdvanceWait", 1000), 1000);
    EXPECT_EQ(profile.GetString("PlaybackOptions", "Missing", "x"), "x");
    ASSERT_TRUE(profile.WriteInt("PlaybackOptions", "AutoAdvance", 2));
    ASSERT_TRUE(profile.WriteString("playbackoptions", "autoadvance", "2"));

    struct stat statAfter {};
    ASSERT_EQ(::stat(path.c_str(), &statAfter), 0);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(statAfter.st_ino, statBefore.st_ino) << "an unchanged value must not rewrite the file";
    EXPECT_EQ(ReadFile(path).find("AdvanceWait"), std::string::npos);
}

TEST_F(IniProfileTest, NamesMatchWithoutRegardToCaseAndKeepTheirFirstSpelling)
{
    IniProfile profile(path);
    ASSERT_TRUE(profile.WriteInt("KeyMap", "Enabled", 0));
    EXPECT_EQ(profile.GetInt("Keymap", "enabled", 1), 0);
    ASSERT_TRUE(profile.WriteInt("KEYMAP", "ENABLED", 3));
    EXPECT_EQ(IniProfile(path).GetInt("KeyMap", "Enabled", 1), 3);
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find("[KeyMap]"), std::string::npos);
    EXPECT_NE(text.find("Enabled=3"), std::string::npos);
}

TEST_F(IniProfileTest, BinaryMapsAreKeptApartFromTheSectionValuesOfTheSameKey)
{
    const std::vector<uint8_t> defaultMap = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    const std::vector<uint8_t> stageMap = {0xDE, 0xAD};
    {
        IniProfile profile(path);
        ASSERT_TRUE(profile.WriteInt("AccelMap", "Enabled", 0));
        ASSERT_TRUE(profile.WriteString("AccelMap", "UseWhich", "Stage"));
        ASSERT_TRUE(profile.WriteBinary("AccelMap", "Default", defaultMap));
        ASSERT_TRUE(profile.WriteBinary("AccelMap", "Stage", stageMap));
        ASSERT_TRUE(profile.WriteBinary("AccelMap", "Enabled", {}));
        ASSERT_TRUE(profile.WriteBinary("Keymap", "MIDI", {0x90}));
    }
    IniProfile profile(path);
    EXPECT_EQ(profile.EnumValues("AccelMap"), (std::vector<std::string>{"Default", "Stage", "Enabled"}));
    EXPECT_EQ(profile.GetBinary("AccelMap", "Default"), defaultMap);
    EXPECT_EQ(profile.GetBinary("AccelMap", "Stage"), stageMap);
    EXPECT_EQ(profile.GetBinary("AccelMap", "Enabled"), std::vector<uint8_t>{});
    EXPECT_EQ(profile.GetInt("AccelMap", "Enabled", 1), 0);
    EXPECT_EQ(profile.GetString("AccelMap", "UseWhich", "Default"), "Stage");
    EXPECT_EQ(profile.EnumValues("Keymap"), std::vector<std::string>{"MIDI"});

    ASSERT_TRUE(profile.DeleteValue("AccelMap", "Stage"));
    EXPECT_FALSE(profile.DeleteValue("AccelMap", "Stage"));
    EXPECT_FALSE(profile.LastError().empty());
    EXPECT_FALSE(profile.DeleteValue("NoSuchKey", "Stage"));

    IniProfile reread(path);
    EXPECT_EQ(reread.EnumValues("AccelMap"), (std::vector<std::string>{"Default", "Enabled"}));
    EXPECT_FALSE(reread.GetBinary("AccelMap", "Stage").has_value());
    EXPECT_EQ(reread.GetInt("AccelMap", "Enabled", 1), 0) << "deleting a map must not touch the section values";
}

TEST_F(IniProfileTest, BinaryValueWithBadHexReadsAsAbsent)
{
    WriteFile(path, "[AccelMap/Maps]\nOdd=ABC\nNotHex=ZZ\nGood=0aFf\n");
    IniProfile profile(path);
    EXPECT_FALSE(profile.GetBinary("AccelMap", "Odd").has_value());
    EXPECT_FALSE(profile.GetBinary("AccelMap", "NotHex").has_value());
    EXPECT_EQ(profile.GetBinary("AccelMap", "Good"), (std::vector<uint8_t>{0x0A, 0xFF}));
}

TEST_F(IniProfileTest, HandWrittenFileWithCommentsBlanksAndWindowsLineEndsReads)
{
    WriteFile(path, "\xEF\xBB\xBF; settings\r\n\r\n[StartupOptions]\r\n  AutoOpen = 0  \r\n# note\r\n"
                    "AutoOpenPath = /home/me/show.set\r\n[Other]\r\nA=1\r\n[startupoptions]\r\nAutoOpen=1\r\n");
    IniProfile profile(path);
    EXPECT_FALSE(profile.TakeWarning().has_value());
    EXPECT_EQ(profile.GetInt("StartupOptions", "AutoOpen", 7), 1) << "a later duplicate counts";
    EXPECT_EQ(profile.GetString("StartupOptions", "AutoOpenPath", ""), "/home/me/show.set");
    EXPECT_EQ(profile.GetInt("Other", "A", 0), 1);
}

TEST_F(IniProfileTest, DamagedFileIsReportedOnceReadAsEmptyAndKeptAsideOnTheFirstWrite)
{
    const std::vector<std::string> damaged = {
        std::string("[Section]\nA=1\0\x01\x02", 15),
        "A=1 before any section\n",
        "[Unclosed\nA=1\n",
        "[Section]\njust some words\n",
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
        IniProfile reread(path);
        EXPECT_FALSE(reread.TakeWarning().has_value());
        EXPECT_EQ(reread.GetInt("Section", "B", 0), 2);
    }
}

TEST_F(IniProfileTest, StoreThatIsNotAFileIsReportedAndEmpty)
{
    fs::create_directory(path);
    IniProfile profile(path);
    EXPECT_TRUE(profile.TakeWarning().has_value());
    EXPECT_EQ(profile.GetString("A", "B", "default"), "default");
}

TEST_F(IniProfileTest, UnreadableFileIsReportedAndEmpty)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    WriteFile(path, "[A]\nB=1\n");
    fs::permissions(path, fs::perms::none);
    IniProfile profile(path);
    EXPECT_TRUE(profile.TakeWarning().has_value());
    EXPECT_EQ(profile.GetInt("A", "B", 0), 0);
}

TEST_F(IniProfileTest, WriteThatFailsMidwayLeavesTheOldFileWhole)
{
    IniProfile profile(path);
    ASSERT_TRUE(profile.WriteString("Big", "Old", "kept"));
    const std::string before = ReadFile(path);

    // Simulate a full disk: the file size limit stops the write of the temporary file partway.
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
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(OtherFiles().empty()) << "no temporary file may be left behind";
    EXPECT_EQ(profile.GetString("Big", "New", "absent"), "absent") << "a failed write must not show as stored";
    EXPECT_EQ(profile.GetString("Big", "Old", ""), "kept");
}

TEST_F(IniProfileTest, WriteIntoAnUnwritableFolderFailsWithAReason)
{
    IniProfile profile(path);
    ASSERT_TRUE(profile.WriteInt("A", "B", 1));
    const std::string before = ReadFile(path);
    if (::geteuid() == 0) {
        // Root writes anywhere; a folder path through a plain file fails for everyone.
        IniProfile blocked((fs::path(path) / "sub" / "Cantivo.ini").string());
        EXPECT_FALSE(blocked.WriteInt("A", "B", 2));
        EXPECT_FALSE(blocked.LastError().empty());
    } else {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(profile.WriteInt("A", "B", 2));
        EXPECT_FALSE(profile.LastError().empty());
        fs::permissions(folder, fs::perms::owner_all);
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(OtherFiles().empty());
}

TEST_F(IniProfileTest, FirstWriteCreatesTheFolder)
{
    const std::string nested = (folder / "config" / "Cantivo" / "Cantivo.ini").string();
    IniProfile profile(nested);
    EXPECT_FALSE(profile.TakeWarning().has_value());
    ASSERT_TRUE(profile.WriteString("SongDefaults", "Author", "Me")) << profile.LastError();
    EXPECT_EQ(IniProfile(nested).GetString("SongDefaults", "Author", ""), "Me");
}

TEST_F(IniProfileTest, WritesFromTwoStoresOnOneFileAreBothKept)
{
    IniProfile first(path);
    IniProfile second(path);
    ASSERT_TRUE(first.WriteInt("A", "One", 1));
    ASSERT_TRUE(second.WriteInt("A", "Two", 2));
    ASSERT_TRUE(first.WriteInt("B", "Three", 3));
    IniProfile reread(path);
    EXPECT_EQ(reread.GetInt("A", "One", 0), 1);
    EXPECT_EQ(reread.GetInt("A", "Two", 0), 2);
    EXPECT_EQ(reread.GetInt("B", "Three", 0), 3);
}

class EnvironmentGuard {
  public:
    explicit EnvironmentGuard(std::vector<std::string> names) : names_(std::move(names))
    {
        for (const std::string& name : names_) {
            const char* value = std::getenv(name.c_str());
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~EnvironmentGuard()
    {
        for (size_t i = 0; i < names_.size(); ++i) {
            if (saved_[i])
                ::setenv(names_[i].c_str(), saved_[i]->c_str(), 1);
            else
                ::unsetenv(names_[i].c_str());
        }
    }

  private:
    std::vector<std::string> names_;
    std::vector<std::optional<std::string>> saved_;
};

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
        {"", nullptr, "/xdg", "/xdg/Cantivo/Cantivo.ini"},
        {"", nullptr, "relative/xdg", "/home/player/.config/Cantivo/Cantivo.ini"},
        {"", nullptr, "", "/home/player/.config/Cantivo/Cantivo.ini"},
        {"", nullptr, nullptr, "/home/player/.config/Cantivo/Cantivo.ini"},
    };
    EnvironmentGuard guard({"CANTIVO_CONFIG", "XDG_CONFIG_HOME", "HOME"});
    ::setenv("HOME", "/home/player", 1);
    for (const Case& c : cases) {
        if (c.cantivoConfig)
            ::setenv("CANTIVO_CONFIG", c.cantivoConfig, 1);
        else
            ::unsetenv("CANTIVO_CONFIG");
        if (c.xdgConfigHome)
            ::setenv("XDG_CONFIG_HOME", c.xdgConfigHome, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(IniProfile::ResolvePath(c.option), c.expected) << c.expected;
    }
}

} // namespace
} // namespace cantivo
