#pragma once

#include <string>
#include <string_view>

namespace cantivo {

// Where a help topic of the program's dialogs ("::/Cues.htm", "::/Record.htm#OPTIONS") is answered in
// the help pages shipped in the data folder's "help" folder.
struct HelpPage {
    std::string page;   // "cues.html"
    std::string anchor; // "" for the top of the page
    bool known = false; // false: the topic has no page of its own and leads to the contents
};

// Topic names and anchors are matched without regard to case; a topic that may carry the help file's
// name before "::" ("cv.chm::/Cues.htm") is read the same. Unknown topics lead to "index.html".
HelpPage FindHelpPage(std::string_view topic);

// The page's address under `helpFolder`: "file:///usr/share/cantivo/help/cues.html#vamp".
std::string HelpPageUrl(const std::string& helpFolder, const HelpPage& page);

} // namespace cantivo
