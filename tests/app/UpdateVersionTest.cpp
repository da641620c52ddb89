#include "app/UpdateVersion.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

namespace cantivo {
namespace {

TEST(UpdateVersion, DottedVersionsBecomeOneNumber)
{
    const struct {
        const char* text;
        std::optional<int32_t> number;
    } cases[] = {
        {"2.18.4", 21804},
        {"2.18.04", 21804},
        {"0.1.0", 100},
        {"1.0", 10000},
        {"0.0.1", 1},
        {"2.100.0", std::nullopt},
        {"2.1.100", std::nullopt},
        {"2", std::nullopt},
        {"", std::nullopt},
        {"2.1.", std::nullopt},
        {".1.2", std::nullopt},
        {"1.2.3.4", std::nullopt},
        {"1.2.3b", std::nullopt},
        {"-1.2.3", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionNumber(c.text), c.number) << c.text;
    EXPECT_EQ(VersionText(21804), "2.18.04");
    EXPECT_EQ(VersionText(100), "0.01.00");
    EXPECT_GT(ProgramVersionNumber(), 0) << "the build's version is not a dotted number";
}

TEST(UpdateVersion, RepliesAreReadAgainstTheOwnNumber)
{
    const struct {
        const char* reply;
        UpdateStatus status;
        int32_t published;
        const char* notes;
    } cases[] = {
        {"Version=21804\r\n\r\nFaster start.\nFixed the lyric view.", UpdateStatus::Available, 21804,
         "Faster start.\nFixed the lyric view."},
        {"Version=21803\n", UpdateStatus::UpToDate, 21803, ""},
        {"Version=21802", UpdateStatus::UpToDate, 21802, ""},
        {"Version=2.18.5\nNotes", UpdateStatus::Available, 21805, "Notes"},
        {"garbage\nVersion=30000 trailing\nline", UpdateStatus::Available, 30000, "Version=30000 trailing\nline"},
        {"Version=0\n", UpdateStatus::NoConnection, 0, ""},
        {"Version=\n", UpdateStatus::NoConnection, 0, ""},
        {"Version=abc", UpdateStatus::NoConnection, 0, ""},
        {"Version=99999999999999", UpdateStatus::NoConnection, 0, ""},
        {"<html>Not here</html>", UpdateStatus::NoConnection, 0, ""},
        {"", UpdateStatus::NoConnection, 0, ""},
    };
    for (const auto& c : cases) {
        const UpdateResult result = ReadVersionReply(c.reply, 21803);
        EXPECT_EQ(result.status, c.status) << c.reply;
        EXPECT_EQ(result.published, c.published) << c.reply;
        EXPECT_EQ(result.releaseNotes, c.notes) << c.reply;
        EXPECT_EQ(result.detail.empty(), c.status != UpdateStatus::NoConnection) << c.reply;
    }
}

TEST(UpdateVersion, OnlyTheFirstBytesOfALongReplyAreRead)
{
    std::string reply = "Version=21804\n" + std::string(MaxVersionReplyBytes, 'x');
    EXPECT_EQ(ReadVersionReply(reply, 100).releaseNotes.size(), MaxVersionReplyBytes - 14);
    const std::string late = std::string(MaxVersionReplyBytes, ' ') + "Version=21804";
    EXPECT_EQ(ReadVersionReply(late, 100).status, UpdateStatus::NoConnection);
}

TEST(UpdateVersion, StartUpSpeaksOnlyOfANewerRelease)
{
    UpdateResult available;
    available.status = UpdateStatus::Available;
    available.published = 21804;
    available.releaseNotes = "Notes";
    UpdateResult upToDate;
    upToDate.status = UpdateStatus::UpToDate;
    const UpdateResult offline;

    const std::string offer = "Version 2.18.04 is now available.\n\nRELEASE NOTES:\nNotes\n\nDownload now?";
    EXPECT_EQ(UpdateMessage(available, false), offer);
    EXPECT_EQ(UpdateMessage(available, true), offer);
    // With no download address the news is told, not asked.
    EXPECT_EQ(UpdateMessage(available, true, false), "Version 2.18.04 is now available.\n\nRELEASE NOTES:\nNotes");
    EXPECT_EQ(UpdateMessage(upToDate, true, false), "Your software is up-to-date.");
    EXPECT_EQ(UpdateMessage(upToDate, false), std::nullopt);
    EXPECT_EQ(UpdateMessage(upToDate, true), "Your software is up-to-date.");
    EXPECT_EQ(UpdateMessage(offline, false), std::nullopt);
    EXPECT_EQ(UpdateMessage(offline, true),
              "Trouble connecting.\nPlease check your Internet connection and try again.");
}

TEST(UpdateVersion, TheCheckIsOffUntilTurnedOn)
{
    test::MemoryProfile profile;
    UpdateSettings settings = ReadUpdateSettings(profile);
    EXPECT_FALSE(settings.checkAtStartUp);
    EXPECT_EQ(settings.url, "");

    ASSERT_TRUE(profile.WriteInt("StartupOptions", "CheckForUpdates", 1));
    ASSERT_TRUE(profile.WriteString("StartupOptions", "UpdateUrl", "http://example.invalid/Version.txt"));
    ASSERT_TRUE(profile.WriteString("StartupOptions", "DownloadUrl", "http://example.invalid/download"));
    settings = ReadUpdateSettings(profile);
    EXPECT_TRUE(settings.checkAtStartUp);
    EXPECT_EQ(settings.url, "http://example.invalid/Version.txt");
    EXPECT_EQ(settings.downloadUrl, "http://example.invalid/download");

    ASSERT_TRUE(profile.WriteInt("StartupOptions", "CheckForUpdates", 2));
    EXPECT_FALSE(ReadUpdateSettings(profile).checkAtStartUp);
}

} // namespace
} // namespace cantivo
