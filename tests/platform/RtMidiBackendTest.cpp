#include "platform/RtMidiBackend.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace cantivo {
namespace {

bool HasSequencer()
{
    return ::access(RtMidiBackend::DefaultSequencerPath, F_OK) == 0;
}

// Without an ALSA sequencer the list is empty and says so in one line, and neither RtMidi nor ALSA
// prints anything of its own.
TEST(RtMidiBackend, WithoutASequencerListsNothingAndSaysWhyInOneLine)
{
    const struct {
        const char* sequencerPath;
        bool needsMachineWithoutSequencer;
    } cases[] = {
        {"/nonexistent/snd/seq", false},
        {RtMidiBackend::DefaultSequencerPath, true},
    };
    VirtualMicrosecondClock clock;
    for (const auto& test : cases) {
        if (test.needsMachineWithoutSequencer && HasSequencer())
            continue;
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        MidiPortList list;
        EXPECT_NO_THROW(list = RtMidiBackend::Enumerate(clock, test.sequencerPath));
        const std::string printed = testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed, "") << test.sequencerPath;
        if (!list.outputs.empty() || !list.inputs.empty())
            continue; // a JACK server with ports is running here
        EXPECT_NE(list.notice.find(std::string("(") + test.sequencerPath + " is missing)"), std::string::npos)
            << list.notice;
        EXPECT_NE(list.notice.find("the built-in synth and Capture still work."), std::string::npos) << list.notice;
        EXPECT_EQ(list.notice.find('\n'), std::string::npos) << list.notice;
    }
}

} // namespace
} // namespace cantivo
