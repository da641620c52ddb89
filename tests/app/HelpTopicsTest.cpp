#include "app/HelpTopics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

// Every topic the dialogs name, with the page section it must open.
const struct {
    const char* topic;
    const char* page;
    const char* anchor;
} DialogTopics[] = {
    {"::/FileNew.htm", "sets.html", "new"},
    {"::/StartOpts.htm", "options.html", "startup"},
    {"::/PlayOpts.htm", "options.html", "playback"},
    {"::/DisplayOpts.htm", "options.html", "display"},
    {"::/Record.htm#OPTIONS", "options.html", "record"},
    {"::/StaffOpts.htm", "options.html", "staff"},
    {"::/SaveOpts.htm", "options.html", "save"},
    {"::/LyricOpts.htm", "options.html", "lyrics"},
    {"::/ConductOpts.htm", "conductor.html", "settings"},
    {"::/SetOpts.htm", "options.html", "set"},
    {"::/Accelerators.htm", "performing.html", "keys"},
    {"::/Cues.htm", "cues.html", ""},
    {"::/Edit.htm#QUANTIZE", "index.html", "editing"},
    {"::/Tempos.htm#SERIES", "conductor.html", "tap-tempo"},
    {"::/Tempos.htm#INSERT", "conductor.html", "tap-tempo"},
    {"::/Cues.htm#DIALOG", "cues.html", "dialog"},
    {"::/Options.htm#AUDIO", "options.html", "audio"},
    {"::/Options.htm#MACROS", "options.html", "macros"},
    {"::/Sync.htm", "performing.html", "sync"},
    {"::/ExternalControl.htm", "performing.html", "foot-switch"},
    {"::/Synths.htm", "index.html", "synths"},
    {"::/Sets.htm#DELETE", "sets.html", "build"},
};

std::string ReadPage(const std::string& page)
{
    std::ifstream file(fs::path(CANTIVO_SOURCE_DIR) / "data" / "help" / page);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(HelpTopics, EveryDialogTopicOpensAnExistingSection)
{
    for (const auto& c : DialogTopics) {
        const HelpPage found = FindHelpPage(c.topic);
        EXPECT_TRUE(found.known) << c.topic;
        EXPECT_EQ(found.page, c.page) << c.topic;
        EXPECT_EQ(found.anchor, c.anchor) << c.topic;
        const std::string html = ReadPage(found.page);
        ASSERT_FALSE(html.empty()) << "data/help/" << found.page << " is missing";
        if (!found.anchor.empty()) {
            EXPECT_NE(html.find("id=\"" + found.anchor + "\""), std::string::npos)
                << found.page << " has no section #" << found.anchor;
        }
    }
}

TEST(HelpTopics, TopicsAreReadLikeTheHelpFileNamesThem)
{
    const struct {
        const char* topic;
        const char* page;
        const char* anchor;
        bool known;
    } cases[] = {
        {"cv.chm::/Cues.htm", "cues.html", "", true},
        {"::/cues.HTM", "cues.html", "", true},
        {"::\\Cues.htm", "cues.html", "", true},
        {"Cues.htm", "cues.html", "", true},
        {"::/Record.htm#options", "options.html", "record", true},
        {"::/Cues.htm#NOSUCH", "cues.html", "", true},
        {"::/Nowhere.htm", "index.html", "", false},
        {"::/Record.htm", "index.html", "", false},
        {"", "index.html", "", false},
    };
    for (const auto& c : cases) {
        const HelpPage found = FindHelpPage(c.topic);
        EXPECT_EQ(found.page, c.page) << c.topic;
        EXPECT_EQ(found.anchor, c.anchor) << c.topic;
        EXPECT_EQ(found.known, c.known) << c.topic;
    }
}

TEST(HelpTopics, AddressesAreFileUrls)
{
    EXPECT_EQ(HelpPageUrl("/usr/share/cantivo/help/", {"cues.html", "vamp", true}),
              "file:///usr/share/cantivo/help/cues.html#vamp");
    EXPECT_EQ(HelpPageUrl("/home/me/My Show#1/help", {"index.html", "", false}),
              "file:///home/me/My%20Show%231/help/index.html");
}

TEST(HelpTopics, EveryPageLinksOnlyToSectionsThatExist)
{
    const char* pages[] = {"index.html", "performing.html", "cues.html", "conductor.html", "sets.html", "options.html"};
    for (const char* page : pages) {
        const std::string html = ReadPage(page);
        ASSERT_FALSE(html.empty()) << page;
        EXPECT_NE(html.find("help.css"), std::string::npos) << page << " does not use the shared style";
        size_t at = 0;
        while ((at = html.find("href=\"", at)) != std::string::npos) {
            at += 6;
            const std::string link = html.substr(at, html.find('"', at) - at);
            if (link.rfind("http", 0) == 0 || link == "help.css")
                continue;
            const size_t hash = link.find('#');
            const std::string target = hash == 0 ? page : link.substr(0, hash);
            const std::string targetHtml = ReadPage(target);
            EXPECT_FALSE(targetHtml.empty()) << page << " links to the missing page " << target;
            if (hash != std::string::npos) {
                EXPECT_NE(targetHtml.find("id=\"" + link.substr(hash + 1) + "\""), std::string::npos)
                    << page << " links to the missing section " << link;
            }
        }
    }
}

} // namespace
} // namespace cantivo
