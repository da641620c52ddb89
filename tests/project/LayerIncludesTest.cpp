// Every #include in src/ is checked against the layer order: a layer sees only its own headers and those
// of the layers below it, and toolkit and device libraries appear only where the layer list allows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The layers each layer may include, itself among them. `platform` implements the interfaces the
// layers up to `app` declare; `rig` is what both programs perform with; `gui` and `cli` are the programs
// on top.
const std::map<std::string, std::set<std::string>> AllowedLayers = {
    {"song", {"song"}},
    {"playback", {"playback", "song"}},
    {"synthdb", {"synthdb", "song"}},
    {"edit", {"edit", "playback", "synthdb", "song"}},
    {"views", {"views", "edit", "playback", "synthdb", "song"}},
    {"set", {"set", "edit", "views", "playback", "synthdb", "song"}},
    {"app", {"app", "set", "edit", "views", "playback", "synthdb", "song"}},
    {"platform", {"platform", "app", "set", "edit", "views", "playback", "synthdb", "song"}},
    {"rig", {"rig", "platform", "app", "set", "edit", "views", "playback", "synthdb", "song"}},
    {"cli", {"cli", "rig", "platform", "app", "set", "edit", "views", "playback", "synthdb", "song"}},
    {"gui", {"gui", "rig", "platform", "app", "set", "edit", "views", "playback", "synthdb", "song"}},
};

// System headers that belong to one library, and the layers that may include them.
struct LibraryRule {
    const char* name;
    std::regex header;
    std::set<std::string> layers;
};

const std::vector<LibraryRule>& LibraryRules()
{
    static const std::vector<LibraryRule> rules = {
        {"Qt", std::regex(R"(^(Q[A-Za-z]+|Qt[A-Za-z]*/.*)$)"), {"app", "platform", "cli", "gui"}},
        {"Qt Widgets",
         std::regex(R"(^(QtWidgets/.*|Q(Widget|Dialog|MainWindow|Application|MessageBox)\b.*)$)"),
         {"gui"}},
        {"RtMidi", std::regex(R"(^(rtmidi/.*|RtMidi\.h)$)"), {"platform"}},
        {"FluidSynth", std::regex(R"(^fluidsynth(\.h|/.*)$)"), {"platform"}},
        {"libsndfile", std::regex(R"(^sndfile\.hh?$)"), {"platform"}},
        {"ALSA", std::regex(R"(^alsa/.*$)"), {"platform"}},
        {"JACK", std::regex(R"(^jack/.*$)"), {"platform"}},
        {"GLib", std::regex(R"(^(glib\.h|glib/.*)$)"), {"platform"}},
        {"SQLite", std::regex(R"(^(sqlite3\.h|SQLiteCpp/.*)$)"), {"synthdb"}},
    };
    return rules;
}

fs::path SourceFolder()
{
    return fs::path(CANTIVO_SOURCE_DIR) / "src";
}

TEST(LayerIncludes, EveryIncludePointsDownTheLayers)
{
    const std::regex includeLine(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    size_t checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(SourceFolder())) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h"))
            continue;
        const fs::path relative = fs::relative(entry.path(), SourceFolder());
        const std::string layer = relative.begin()->string();
        const auto allowed = AllowedLayers.find(layer);
        ASSERT_NE(allowed, AllowedLayers.end()) << "the folder src/" << layer << " is no known layer";

        std::ifstream file(entry.path());
        std::string line;
        for (int number = 1; std::getline(file, line); ++number) {
            std::smatch match;
            if (!std::regex_search(line, match, includeLine))
                continue;
            ++checked;
            const std::string header = match[2];
            const std::string where = relative.string() + ":" + std::to_string(number) + ": " + header;
            const size_t slash = header.find('/');
            const std::string first = slash == std::string::npos ? std::string() : header.substr(0, slash);
            if (match[1] == "\"" || AllowedLayers.count(first)) {
                EXPECT_TRUE(allowed->second.count(first)) << where << " reaches up or across the layers";
                continue;
            }
            for (const LibraryRule& rule : LibraryRules()) {
                if (std::regex_match(header, rule.header)) {
                    EXPECT_TRUE(rule.layers.count(layer)) << where << ": " << rule.name << " has no place in " << layer;
                }
            }
        }
    }
    EXPECT_GT(checked, 100u) << "the sources were not found under " << SourceFolder();
}

// The checker itself: a header of a higher layer or of a library is recognised.
TEST(LayerIncludes, RulesRecogniseTheLibraries)
{
    auto library = [](const std::string& header) {
        for (const LibraryRule& rule : LibraryRules())
            if (std::regex_match(header, rule.header))
                return std::string(rule.name);
        return std::string();
    };
    EXPECT_EQ(library("QSettings"), "Qt");
    EXPECT_EQ(library("QtCore/QString"), "Qt");
    EXPECT_EQ(library("fluidsynth.h"), "FluidSynth");
    EXPECT_EQ(library("rtmidi/RtMidi.h"), "RtMidi");
    EXPECT_EQ(library("sndfile.h"), "libsndfile");
    EXPECT_EQ(library("sqlite3.h"), "SQLite");
    EXPECT_EQ(library("jack/jack.h"), "JACK");
    EXPECT_EQ(library("glib.h"), "GLib");
    EXPECT_EQ(library("alsa/asoundlib.h"), "ALSA");
    EXPECT_EQ(library("vector"), "");
    EXPECT_FALSE(AllowedLayers.at("song").count("edit"));
    EXPECT_FALSE(AllowedLayers.at("app").count("platform"));
}

} // namespace
