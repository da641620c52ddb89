// The set file as other programs and other systems wrote it: counted strings in every form, legacy
// text, Windows paths, and files cut short anywhere.
#include "set/SetFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cantivo {
namespace {

std::vector<uint8_t> Header(int32_t count)
{
    return {static_cast<uint8_t>(count),
            static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count >> 16),
            static_cast<uint8_t>(count >> 24),
            101,
            0};
}

void Append(std::vector<uint8_t>& bytes, std::initializer_list<int> more)
{
    for (int b : more)
        bytes.push_back(static_cast<uint8_t>(b));
}

TEST(SetFile, PathsRoundTripInEveryLengthForm)
{
    const std::vector<std::string> paths = {"/shows/a.mid", "", std::string(300, 'x') + ".mid",
                                            "/shows/Überraschung/ü.mid", std::string(70000, 'y')};
    const std::vector<uint8_t> bytes = SetFileBytes(paths);
    EXPECT_EQ(bytes[4], 101); // the version
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), std::vector<uint8_t>(4, 0)) << "terminator";
    SetFileContents contents;
    std::string error;
    ASSERT_TRUE(ParseSetFile(bytes, contents, error)) << error;
    EXPECT_EQ(contents.paths, paths);
    EXPECT_FALSE(contents.truncated);
}

TEST(SetFile, ReadsWhatOtherSystemsStored)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> entry; // after the reserved word
        std::string path;
    };
    const Case cases[] = {
        {"Windows-1252 name", {9, 'C', 'a', 'f', 0xE9, '.', 'm', 'i', 'd', 0x80}, "Caf\xC3\xA9.mid\xE2\x82\xAC"},
        {"UTF-16 form", {0xFF, 0xFE, 0xFF, 3, 'A', 0, 0xE9, 0, 0x3C, 0xD8}, "A\xC3\xA9\xEF\xBF\xBD"},
        {"UTF-16 surrogate pair", {0xFF, 0xFE, 0xFF, 2, 0x3C, 0xD8, 0xB5, 0xDF}, "\xF0\x9F\x8E\xB5"},
        {"32-bit length", {0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 'o', 'k'}, "ok"},
        {"UTF-8 kept", {3, 0xC3, 0xBC, 'x'}, "\xC3\xBCx"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = Header(1);
        Append(bytes, {0, 0, 0, 0});
        bytes.insert(bytes.end(), c.entry.begin(), c.entry.end());
        SetFileContents contents;
        std::string error;
        ASSERT_TRUE(ParseSetFile(bytes, contents, error)) << c.what << ": " << error;
        ASSERT_EQ(contents.paths.size(), 1u) << c.what;
        EXPECT_EQ(contents.paths[0], c.path) << c.what;
    }
    EXPECT_EQ(StoredPathName("C:\\Shows\\Saturday\\Song.mid"), "Song.mid");
    EXPECT_EQ(StoredPathName("/home/me/show/Song.mid"), "Song.mid");
    EXPECT_EQ(StoredPathName("Song.mid"), "Song.mid");
}

TEST(SetFile, AFileCutAnywhereGivesTheEntriesBeforeTheCut)
{
    const std::vector<std::string> paths = {"/a/one.mid", "/a/two.mid", std::string(400, 'z')};
    const std::vector<uint8_t> whole = SetFileBytes(paths);
    for (size_t size = 0; size < whole.size(); ++size) {
        SetFileContents contents;
        std::string error;
        const bool ok = ParseSetFile({whole.data(), size}, contents, error);
        EXPECT_EQ(ok, size >= 6) << size;
        if (!ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        ASSERT_LE(contents.paths.size(), paths.size()) << size;
        for (size_t i = 0; i < contents.paths.size(); ++i)
            EXPECT_EQ(contents.paths[i], paths[i]) << size;
        EXPECT_EQ(contents.truncated, contents.paths.size() < paths.size()) << size;
    }
    // A count of zero, and a count far beyond what the bytes hold.
    SetFileContents contents;
    std::string error;
    ASSERT_TRUE(ParseSetFile(Header(0), contents, error));
    EXPECT_TRUE(contents.paths.empty());
    EXPECT_FALSE(contents.truncated);
    ASSERT_TRUE(ParseSetFile(Header(0x7FFFFFFF), contents, error));
    EXPECT_TRUE(contents.truncated);
}

} // namespace
} // namespace cantivo
