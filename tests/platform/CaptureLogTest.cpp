#include "platform/CaptureLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

fs::path TempLog()
{
    return fs::temp_directory_path() / ("cantivo-capture-" + std::to_string(::getpid()) + ".log");
}

TEST(ShortMessageSize, FollowsTheStatusByte)
{
    const std::pair<uint32_t, size_t> cases[] = {
        {0x643C90, 3}, {0x003C80, 3}, {0x4010A0, 3}, {0x7F07B3, 3}, {0x05C9, 2}, {0x40D2, 2}, {0x4000E0, 3}, {0xF8, 1},
        {0xFA, 1},     {0x23F1, 2},   {0x0503F2, 3}, {0x02F3, 2},   {0xF6, 1},   {0xFE, 1},   {0xFF, 1},
    };
    for (const auto& [message, size] : cases)
        EXPECT_EQ(ShortMessageSize(message), size) << std::hex << message;
}

// The log's lines are a public format: time in microseconds since the log began, the logical port,
// the bytes in upper-case hex.
TEST(CaptureLog, WritesOneLinePerMessageAtItsClockTime)
{
    VirtualMicrosecondClock clock;
    clock.Set(5000000); // the log counts from its own start
    const fs::path path = TempLog();
    std::string error;
    auto log = CaptureLog::Open(path.string(), clock, error);
    ASSERT_TRUE(log) << error;
    CaptureDevice synth(*log, 0);
    CaptureDevice second(*log, 3);
    EXPECT_EQ(synth.Name(), "Capture");

    log->Comment("song: demo\nsecond line");
    synth.SendShort(0x643C90);
    clock.Advance(1002000);
    second.SendShort(0x05C9);
    second.SendShort(0xF8);
    std::vector<uint8_t> sysex = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    synth.SendLong(sysex);
    // A long message longer than any line buffer stays one line.
    std::vector<uint8_t> dump(300, 0x2A);
    dump.front() = 0xF0;
    dump.back() = 0xF7;
    clock.Advance(1);
    second.SendLong(dump);
    synth.SendLong({}); // nothing to log
    ASSERT_TRUE(log->Close(error)) << error;

    std::string dumpHex = "F0";
    for (size_t i = 1; i + 1 < dump.size(); ++i)
        dumpHex += " 2A";
    dumpHex += " F7";
    EXPECT_EQ(ReadText(path), "# song: demo\n# second line\n"
                              "0\t0\t90 3C 64\n"
                              "1002000\t3\tC9 05\n"
                              "1002000\t3\tF8\n"
                              "1002000\t0\tF0 7E 7F 09 01 F7\n"
                              "1002001\t3\t" +
                                  dumpHex + "\n");
    // Closed: later messages are dropped rather than written to a closed file.
    synth.SendShort(0x003C80);
    EXPECT_TRUE(log->Close(error));
    fs::remove(path);
}

TEST(CaptureLog, ALogThatCannotBeWrittenSaysWhere)
{
    VirtualMicrosecondClock clock;
    std::string error;
    EXPECT_FALSE(CaptureLog::Open("/nonexistent-folder/capture.log", clock, error));
    EXPECT_NE(error.find("/nonexistent-folder/capture.log"), std::string::npos) << error;

    // A full disk shows at the close, not as a silently short log.
    if (fs::exists("/dev/full")) {
        auto log = CaptureLog::Open("/dev/full", clock, error);
        ASSERT_TRUE(log) << error;
        log->RecordShort(0, 0x643C90);
        EXPECT_FALSE(log->Close(error));
        EXPECT_NE(error.find("incomplete"), std::string::npos) << error;
    }
}

} // namespace
} // namespace cantivo
