#include "app/RenderScript.h"

#include "app/CommandTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

TEST(RenderScript, ReadsTimesAndCommandsSkippingComments)
{
    const RenderScript script = ParseRenderScript("\xEF\xBB\xBF# count in, then go\r\n"
                                                  "0 Play\r\n"
                                                  "\r\n"
                                                  "   # an indented comment\n"
                                                  "  2500\tTempo faster  \r\n"
                                                  "2500 tempo faster\n"
                                                  "\t\n"
                                                  "0010000   Next song\n"
                                                  "12000 Advance: wait"); // no final newline
    ASSERT_TRUE(script.ok()) << script.error;
    struct Expected {
        int64_t milliseconds;
        CommandId command;
        int lineNumber;
    };
    const Expected expected[] = {
        {0, CommandId::Play, 2},           {2500, CommandId::TempoFaster, 5},
        {2500, CommandId::TempoFaster, 6}, // equal times keep file order
        {10000, CommandId::NextSong, 8},   {12000, CommandId::AdvanceWait, 9},
    };
    ASSERT_EQ(script.lines.size(), std::size(expected));
    for (size_t i = 0; i < script.lines.size(); ++i) {
        EXPECT_EQ(script.lines[i].milliseconds, expected[i].milliseconds) << i;
        EXPECT_EQ(script.lines[i].command, ToNumber(expected[i].command)) << i;
        EXPECT_EQ(script.lines[i].lineNumber, expected[i].lineNumber) << i;
    }
}

TEST(RenderScript, EmptyOrCommentOnlyScriptHasNoLines)
{
    for (std::string_view text : {"", "\n\n", "# nothing\r\n  \t\r\n"}) {
        const RenderScript script = ParseRenderScript(text);
        EXPECT_TRUE(script.ok()) << script.error;
        EXPECT_TRUE(script.lines.empty());
    }
}

TEST(RenderScript, BadLineIsNamedAndNothingIsKept)
{
    struct Case {
        std::string_view text;
        std::string_view error;
    };
    const Case cases[] = {
        {"0 Play\n\n1000 Tempo fastr\n", "script line 3: unknown command \"Tempo fastr\""},
        {"0 Play\n# x\n2000 Stop\n\n1000 Play\n",
         "script line 5: the time 1000 is before the previous line's 2000; times must not go backwards"},
        {"0 Play\n1000\n", "script line 2: expected \"MILLISECONDS COMMAND\""},
        {"1000   \r\n", "script line 1: expected \"MILLISECONDS COMMAND\""},
        {"Play\n", "script line 1: expected \"MILLISECONDS COMMAND\""},
        {"1.5 Play\n", "script line 1: the time \"1.5\" is not a whole number of milliseconds"},
        {"1s Play\n", "script line 1: the time \"1s\" is not a whole number of milliseconds"},
        {"+5 Play\n", "script line 1: the time \"+5\" is not a whole number of milliseconds"},
        {"-5 Play\n", "script line 1: the time -5 is negative; times count from 0"},
        {"86400001 Stop\n", "script line 1: the time 86400001 is too large; the most is 86400000 (24 hours)"},
        {"99999999999999999999999 Stop\n",
         "script line 1: the time 99999999999999999999999 is too large; the most is 86400000 (24 hours)"},
    };
    for (const Case& c : cases) {
        const RenderScript script = ParseRenderScript(c.text);
        EXPECT_EQ(script.error, c.error) << c.text;
        EXPECT_FALSE(script.ok());
        EXPECT_TRUE(script.lines.empty()) << c.text;
    }
    EXPECT_TRUE(ParseRenderScript("86400000 Stop").ok()) << "the limit itself is allowed";
}

TEST(RenderScript, ReadsAFileAndNamesOneItCannotRead)
{
    const fs::path folder = fs::temp_directory_path() / ("cantivo-script-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path path = folder / "show.txt";
    std::ofstream(path, std::ios::binary) << "0 Play\r\n500 Stop\r\n";

    const RenderScript script = ReadRenderScript(path.string());
    ASSERT_TRUE(script.ok()) << script.error;
    ASSERT_EQ(script.lines.size(), 2u);
    EXPECT_EQ(script.lines[1].command, ToNumber(CommandId::Stop));

    const std::string missing = (folder / "x").string();
    EXPECT_EQ(ReadRenderScript(missing).error, "cannot read the script \"" + missing + "\": No such file or directory");
    EXPECT_EQ(ReadRenderScript(folder.string()).error,
              "cannot read the script \"" + folder.string() + "\": Is a directory");
    fs::remove_all(folder);
}

} // namespace
} // namespace cantivo
