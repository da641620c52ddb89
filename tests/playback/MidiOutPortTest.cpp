#include "playback/MidiOutPort.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace cantivo {
namespace {

// Records what reaches the device as hex text, one message a line.
class RecordingDevice final : public MidiOutDevice {
  public:
    std::string Name() const override { return "Recorder"; }
    void SendShort(uint32_t message) override
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06X", message);
        sent.push_back(text);
    }
    void SendLong(std::span<const uint8_t> bytes) override
    {
        std::string text;
        for (uint8_t byte : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%s%02X", text.empty() ? "" : " ", byte);
            text += hex;
        }
        sent.push_back(text);
    }
    std::vector<std::string> Take() { return std::exchange(sent, {}); }

    std::vector<std::string> sent;
};

using Lines = std::vector<std::string>;

TEST(MidiOutPort, ResetsSendOnlyWhatIsKnownAndDiffers)
{
    RecordingDevice device;
    MidiOutPort port("Synth", &device);
    port.ResetControllers();
    EXPECT_EQ(device.Take(), Lines{}) << "a cleared port knows nothing to reset";

    port.SetBankAndProgram(1, 130, 5);
    EXPECT_EQ(device.Take(), (Lines{"0100B1", "0220B1", "0005C1"}));
    EXPECT_EQ(port.Bank(1), 130);
    EXPECT_EQ(port.Program(1), 5);

    port.SetRegisteredParameter(1, 0, 12 * 128); // a bend range of twelve semitones
    port.SetRegisteredParameter(1, 5, -1);       // a negative value sends nothing
    port.SetNonRegisteredParameter(2, 300, 5);
    EXPECT_EQ(device.Take(), (Lines{"0065B1", "0064B1", "0C06B1", "0026B1", "0263B2", "2C62B2", "0006B2", "0526B2"}));

    port.SendAndHold(0x643C91, 3);
    port.SetController(1, 7, 90);  // volume known and off its default
    port.SetController(1, 10, 64); // pan known and at its default
    device.Take();
    port.ResetControllers();
    EXPECT_EQ(device.Take(), (Lines{"003C91", "6407B1", "0065B1", "0064B1", "0206B1", "0026B1"}))
        << "the held note is released, volume returns to 100, the bend range to two semitones; bank select "
           "parts and pan are left alone";
    EXPECT_EQ(port.Parameter(1, 0), 256u) << "the bend range went back to two semitones";
}

TEST(MidiOutPort, ReleasingHeldNotesLiftsTheSustainFirst)
{
    RecordingDevice device;
    MidiOutPort port("Synth", &device);
    port.SendAndHold(0x503C90, 0x05);
    port.SendAndHold(0x504090, 0x05);
    port.SendAndRelease(0x503C90);
    EXPECT_EQ(port.HeldNotes().size(), 2u) << "a freed slot below the highest keeps the table's length";
    port.SendAndRelease(0x504090);
    EXPECT_TRUE(port.HeldNotes().empty()) << "trailing free slots shrink the table";
    device.Take();

    port.SendAndHold(0x503C90, 0x05);
    EXPECT_EQ(port.HeldNotes()[0], 0x05503C90u) << "the patch tag stands in the top byte";
    port.SetController(1, 64, 127);
    port.SetController(2, 64, 0); // known and up: nothing to lift
    device.Take();
    port.ReleaseHeldNotes();
    EXPECT_EQ(device.Take(), (Lines{"0040B1", "003C90"}));
    EXPECT_EQ(port.Controller(1, 64), 0);
    EXPECT_TRUE(port.HeldNotes().empty());
}

TEST(MidiOutPort, FreeStuckNotesCoversThePlayedRangeOfEachChannel)
{
    RecordingDevice device;
    MidiOutPort port("Synth", &device);
    for (int key : {62, 60, 64})
        port.SendAndHold(0x500092u | static_cast<uint32_t>(key) << 8, 0xFF);
    device.Take();
    port.FreeStuckNotes();
    EXPECT_EQ(device.Take(), (Lines{"003C92", "003D92", "003E92", "003F92", "004092"}));
}

// More notes than the table holds: the first slot's note is released to make room, so every note that
// sounds can still be silenced.
TEST(MidiOutPort, AFullHeldTableStealsTheFirstNoteRatherThanForgetOne)
{
    RecordingDevice device;
    MidiOutPort port("Synth", &device);
    for (int i = 0; i < HeldNoteSlots; ++i)
        port.SendAndHold(0x400090u | static_cast<uint32_t>(i / 16) | static_cast<uint32_t>(i % 128) << 8, 1);
    device.Take();
    port.SendAndHold(0x407F9F, 1);
    EXPECT_EQ(device.Take(), (Lines{"000090", "407F9F"}));
    EXPECT_EQ(port.NotesStolen(), 1u);
    EXPECT_EQ(port.HeldNotes().size(), static_cast<size_t>(HeldNoteSlots));
    port.ReleaseHeldNotes();
    const Lines offs = device.Take();
    ASSERT_EQ(offs.size(), static_cast<size_t>(HeldNoteSlots));
    EXPECT_EQ(offs[0], "007F9F");
}

TEST(MidiOutPort, FollowsTheDeviceSettingsOfLongMessages)
{
    RecordingDevice device;
    MidiOutPort port("Synth", &device);
    port.SetMasterVolume(16383);
    EXPECT_EQ(device.Take(), Lines{"F0 7F 7F 04 01 7F 7F F7"});
    EXPECT_EQ(port.Settings().masterVolume, 16383);

    const std::vector<std::vector<uint8_t>> blocks = {
        {0xF0, 0x7F, 0x7F, 0x04, 0x04, 0x00, 0x41, 0xF7},                               // coarse tuning
        {0xF0, 0x7F, 0x7F, 0x04, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x08, 0xF7}, // reverb type 8
        {0xF0, 0x7F, 0x7F, 0x04, 0x05, 0x01, 0x01, 0x01, 0x01, 0x02, 0x00, 0x04, 0xF7}, // chorus type 4
        {0xF0, 0x7F, 0x7F, 0x04, 0x05, 0x01, 0x01, 0x01, 0x01, 0x02, 0x02, 0x30, 0xF7}, // chorus depth
        {0xF0, 0x7F, 0x7F, 0x09, 0x03, 0x02, 0x4A, 0x00, 0x50, 0x05, 0x10, 0xF7},       // CC 74 on channel 3
        {0xF0, 0x7F, 0x7F, 0x09, 0x01, 0x01, 0x00, 0x7F, 0x09, 0x10, 0xF7},             // bad parameter 9 skipped
    };
    for (const auto& block : blocks)
        port.SendLong(block);
    const DeviceSettings& s = port.Settings();
    EXPECT_EQ(s.masterCoarseTuning, 0x41 * 128);
    EXPECT_EQ(s.reverbType, 8);
    EXPECT_EQ(s.reverbTime, 50);
    EXPECT_EQ(s.chorusType, 4);
    EXPECT_EQ(s.modulationRate, 2);
    EXPECT_EQ(s.modulationDepth, 0x30);
    EXPECT_EQ(s.feedback, 64);
    EXPECT_EQ(s.sendToReverb, 0);
    EXPECT_EQ(s.controlChange[2][0], 0x4A);
    EXPECT_EQ(s.controlChange[2][1], 0x50);
    EXPECT_EQ(s.controlChange[2][6], 0x10);
    EXPECT_EQ(s.channelPressure[1][0], 0x7F);
    EXPECT_EQ(device.Take().size(), blocks.size()) << "every block is sent as it is";

    port.ClearState();
    EXPECT_EQ(port.Settings().masterVolume, -1);
    EXPECT_EQ(port.Settings().controlChange[2][0], UnknownByte);
}

TEST(MidiOutPort, AClosedPortKeepsItsStateAndSendsNothing)
{
    MidiOutPort port("Gone", nullptr);
    EXPECT_FALSE(port.IsOpen());
    port.SetBankAndProgram(0, 1, 2);
    port.SendAndHold(0x403C90, 2);
    port.SetMasterVolume(100);
    EXPECT_EQ(port.Program(0), 2);
    EXPECT_EQ(port.HeldNotes().size(), 1u);
    port.ReleaseHeldNotes();
    EXPECT_TRUE(port.HeldNotes().empty());
}

TEST(ParseResetSysex, AcceptsOnlyUpperCaseHexWithFramingBytesAtTheEnds)
{
    const std::pair<const char*, std::vector<uint8_t>> good[] = {
        {"F0 7E 7F 09 01 F7", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
        {"  F0  7E 7F\r\n09   01 F7  ", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
        {"41 10", {0x41, 0x10}},
    };
    for (const auto& [text, bytes] : good) {
        const auto parsed = ParseResetSysex(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(*parsed, bytes) << text;
    }
    for (const char* bad : {"", "   ", "F0 7e 7F F7", "F0 7E 7F9 F7", "F0 80 F7", "7E F0 F7", "F0 F7 00", "F0 7G F7"})
        EXPECT_FALSE(ParseResetSysex(bad)) << '"' << bad << '"';
}

} // namespace
} // namespace cantivo
