#include "app/WorkFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

TEST(WorkFolder, IsPrivateToTheProcessAndGoneWithEverythingInIt)
{
    fs::path root;
    fs::path otherPath;
    {
        WorkFolder folder;
        WorkFolder other;
        ASSERT_FALSE(folder.Path().empty()) << folder.Error();
        EXPECT_NE(folder.Path().find("undoredo.wav"), std::string::npos);
        EXPECT_NE(folder.Path(), other.Path()) << "two processes (or objects) never share a folder";
        EXPECT_TRUE(fs::is_directory(folder.Path()));
        root = fs::path(folder.Path()).parent_path();
        struct stat info {};
        ASSERT_EQ(::stat(root.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 077, 0u) << "no other user may look inside";

        std::ofstream(fs::path(folder.Path()) / "0000abcd.wav") << "held audio";
        fs::create_directory(fs::path(folder.Path()) / "nested");
        std::ofstream(fs::path(folder.Path()) / "nested" / "x") << "x";
        otherPath = other.Path();
    }
    EXPECT_FALSE(fs::exists(root));
    EXPECT_FALSE(fs::exists(otherPath));
}

} // namespace
} // namespace cantivo
