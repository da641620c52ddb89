#include "platform/LoopbackPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace cantivo {
namespace {

struct Heard {
    int64_t microseconds;
    std::vector<uint8_t> bytes;
    bool operator==(const Heard&) const = default;
};

class Recorder final : public MidiInReceiver {
  public:
    void OnMidiIn(int64_t microseconds, std::span<const uint8_t> bytes) override
    {
        heard.push_back({microseconds, {bytes.begin(), bytes.end()}});
    }
    std::vector<Heard> heard;
};

TEST(LoopbackPair, DeliversShortMessagesAsTheirWireBytes)
{
    const struct {
        uint32_t message;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0x643C90, {0x90, 0x3C, 0x64}},
        {0x7F07B3, {0xB3, 0x07, 0x7F}},
        {0x4000E5, {0xE5, 0x00, 0x40}},
        {0x05C9, {0xC9, 0x05}},
        {0x40D2, {0xD2, 0x40}},
        {0x23F1, {0xF1, 0x23}},
        {0x0503F2, {0xF2, 0x03, 0x05}},
        {0xF8, {0xF8}},
        {0xFE, {0xFE}},
        // bits above the message's own bytes are not sent
        {0xAA0005C0, {0xC0, 0x05}},
    };
    VirtualMicrosecondClock clock;
    LoopbackPair pair = LoopbackPair::Make("Loop", clock);
    Recorder recorder;
    ASSERT_TRUE(pair.in->Start(recorder));
    for (const auto& test : cases) {
        recorder.heard.clear();
        clock.Advance(250);
        pair.out->SendShort(test.message);
        ASSERT_EQ(recorder.heard.size(), 1u) << std::hex << test.message;
        EXPECT_EQ(recorder.heard[0], (Heard{clock.NowMicroseconds(), test.bytes})) << std::hex << test.message;
    }
}

TEST(LoopbackPair, DeliversLongMessagesWholeAndOnlyWhileStarted)
{
    VirtualMicrosecondClock clock;
    LoopbackPair pair = LoopbackPair::Make("Loop", clock);
    EXPECT_EQ(pair.out->Name(), "Loop");
    EXPECT_EQ(pair.in->Name(), "Loop");
    Recorder recorder;
    const std::vector<uint8_t> gmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    std::vector<uint8_t> dump(4000, 0x11);
    dump.front() = 0xF0;
    dump.back() = 0xF7;

    pair.out->SendLong(gmOn); // not started: goes nowhere
    ASSERT_TRUE(pair.in->Start(recorder));
    pair.out->SendLong(gmOn);
    clock.Advance(1000);
    pair.out->SendLong(dump);
    pair.in->Stop();
    pair.out->SendLong(gmOn);
    pair.out->SendShort(0x643C90);

    ASSERT_EQ(recorder.heard.size(), 2u);
    EXPECT_EQ(recorder.heard[0], (Heard{0, gmOn}));
    EXPECT_EQ(recorder.heard[1], (Heard{1000, dump}));
}

TEST(LoopbackPair, EitherEndMayGoFirst)
{
    VirtualMicrosecondClock clock;
    Recorder recorder;
    LoopbackPair pair = LoopbackPair::Make("Loop", clock);
    ASSERT_TRUE(pair.in->Start(recorder));
    pair.in.reset();
    pair.out->SendShort(0x643C90); // the input is gone: nothing arrives, nothing breaks
    EXPECT_TRUE(recorder.heard.empty());
}

// Stop returns only when no delivery is under way, so the receiver may be destroyed right after it.
TEST(LoopbackPair, StopWaitsForADeliveryUnderWay)
{
    class SlowReceiver final : public MidiInReceiver {
      public:
        void OnMidiIn(int64_t, std::span<const uint8_t>) override
        {
            entered = true;
            while (!release)
                std::this_thread::yield();
        }
        std::atomic<bool> entered{false};
        std::atomic<bool> release{false};
    };
    VirtualMicrosecondClock clock;
    LoopbackPair pair = LoopbackPair::Make("Loop", clock);
    SlowReceiver receiver;
    ASSERT_TRUE(pair.in->Start(receiver));
    std::thread sender([&] { pair.out->SendShort(0x643C90); });
    while (!receiver.entered)
        std::this_thread::yield();
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        pair.in->Stop();
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(stopped);
    receiver.release = true;
    sender.join();
    stopper.join();
    EXPECT_TRUE(stopped);
}

} // namespace
} // namespace cantivo
