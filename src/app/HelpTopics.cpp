#include "app/HelpTopics.h"

#include <array>
#include <cctype>

namespace cantivo {

namespace {

struct TopicEntry {
    std::string_view topic; // page and anchor in lower case, "page.htm" or "page.htm#anchor"
    std::string_view page;
    std::string_view anchor;
};

// Every help topic the dialogs name, and the page section that answers it.
constexpr std::array<TopicEntry, 26> Topics = {{
    {"filenew.htm", "sets.html", "new"},
    {"startopts.htm", "options.html", "startup"},
    {"playopts.htm", "options.html", "playback"},
    {"displayopts.htm", "options.html", "display"},
    {"record.htm#options", "options.html", "record"},
    {"staffopts.htm", "options.html", "staff"},
    {"saveopts.htm", "options.html", "save"},
    {"lyricopts.htm", "options.html", "lyrics"},
    {"conductopts.htm", "conductor.html", "settings"},
    {"setopts.htm", "options.html", "set"},
    {"accelerators.htm", "performing.html", "keys"},
    {"cues.htm", "cues.html", ""},
    {"edit.htm#quantize", "index.html", "editing"},
    {"tempos.htm#series", "conductor.html", "tap-tempo"},
    {"tempos.htm#insert", "conductor.html", "tap-tempo"},
    {"performing.htm", "performing.html", ""},
    {"conductor.htm", "conductor.html", ""},
    {"sets.htm", "sets.html", ""},
    {"options.htm", "options.html", ""},
    // The desktop program's own topics, for the dialogs and option pages the help file had none for.
    {"cues.htm#dialog", "cues.html", "dialog"},
    {"options.htm#audio", "options.html", "audio"},
    {"options.htm#macros", "options.html", "macros"},
    {"sync.htm", "performing.html", "sync"},
    {"externalcontrol.htm", "performing.html", "foot-switch"},
    {"synths.htm", "index.html", "synths"},
    {"sets.htm#delete", "sets.html", "build"},
}};

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

} // namespace

HelpPage FindHelpPage(std::string_view topic)
{
    if (const size_t marker = topic.find("::"); marker != std::string_view::npos)
        topic.remove_prefix(marker + 2);
    while (!topic.empty() && (topic.front() == '/' || topic.front() == '\\'))
        topic.remove_prefix(1);
    const std::string key = Lower(topic);
    for (const TopicEntry& entry : Topics) {
        if (entry.topic == key)
            return {std::string(entry.page), std::string(entry.anchor), true};
    }
    // A known page with an anchor it does not list still opens the page.
    const std::string pageOnly = key.substr(0, key.find('#'));
    for (const TopicEntry& entry : Topics) {
        if (entry.topic == pageOnly)
            return {std::string(entry.page), std::string(entry.anchor), true};
    }
    return {"index.html", "", false};
}

std::string HelpPageUrl(const std::string& helpFolder, const HelpPage& page)
{
    std::string folder = helpFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    std::string url = "file://";
    // Keep the address valid for folders with blanks or '#' in their names.
    for (const char c : folder + "/" + page.page) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::string_view("/-._~").find(c) != std::string_view::npos) {
            url += c;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            url += '%';
            url += hex[byte >> 4];
            url += hex[byte & 15];
        }
    }
    if (!page.anchor.empty())
        url += "#" + page.anchor;
    return url;
}

} // namespace cantivo
