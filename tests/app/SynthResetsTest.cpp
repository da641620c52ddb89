// "Reset MIDI" with the synth database behind it: each "Technology" combination sends its resets in
// their order, the user text as one message, and an unbound port only forgets its state.
#include "app/SynthResets.h"
#include "support/TestContext.h"
#include "synthdb/SynthDatabase.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

// Every message as hex text, long ones whole.
class HexDevice final : public MidiOutDevice {
  public:
    explicit HexDevice(std::vector<std::string>& log) : log_(log) {}
    std::string Name() const override { return "Box"; }
    void SendShort(uint32_t message) override
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06X", message);
        log_.push_back(text);
    }
    void SendLong(std::span<const uint8_t> bytes) override
    {
        std::string text;
        for (const uint8_t byte : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X", byte);
            text += hex;
        }
        log_.push_back(text);
    }

  private:
    std::vector<std::string>& log_;
};

// `first`, then CC120 and/or CC121 on each channel in turn.
std::vector<std::string> ChannelMessages(bool soundOff, bool controllers, std::vector<std::string> first = {})
{
    std::vector<std::string> messages = std::move(first);
    for (int channel = 0; channel < 16; ++channel) {
        char text[16];
        if (soundOff) {
            std::snprintf(text, sizeof text, "%06X", 0x78B0 | channel);
            messages.push_back(text);
        }
        if (controllers) {
            std::snprintf(text, sizeof text, "%06X", 0x79B0 | channel);
            messages.push_back(text);
        }
    }
    return messages;
}

TEST(SynthResets, EachTechnologyCombinationSendsItsResetsInOrder)
{
    const fs::path folder = fs::temp_directory_path() / ("cantivo-resets-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    std::string warning;
    auto database = SynthDatabase::Open({(folder / "cv.db").string(), (folder / "no-data").string()}, warning);
    ASSERT_TRUE(database->Writable()) << warning;
    const std::string gm = "F0 7E 7F 09 01 F7", gs = "F0 41 10 42 12 40 00 7F 00 41 F7",
                      xg = "F0 43 10 4C 00 00 7E 00 F7";
    const struct {
        int32_t technology;
        const char* user;
        std::vector<std::string> sent;
    } cases[] = {
        {0, "", {}},
        {TechGmReset, "", {gm}},
        {TechGmReset | TechGsReset | TechXgReset, "", {gm, gs, xg}},
        {TechXgReset | TechUserReset, "F0 41 10 F7", {xg, "F0 41 10 F7"}},
        {TechUserReset, "f0 41 10 f7", {}}, // a bad text sends nothing
        {TechAllSoundOff, "", ChannelMessages(true, false)},
        {TechGsReset | TechAllSoundOff | TechResetAllControllers, "", ChannelMessages(true, true, {gs})},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.technology);
        Synthesizer synth;
        synth.name = "Box " + std::to_string(entry.technology) + entry.user;
        synth.technology = entry.technology;
        synth.resetSysex = entry.user;
        ASSERT_TRUE(database->WriteSynth(synth).ok);
        ASSERT_TRUE(database->BindPort({"Box", synth.number, 0}).ok);

        std::vector<std::string> log;
        test::MemoryProfile profile;
        ASSERT_TRUE(profile.WriteString("PortsToUse", "MIDIOUT0", "Box"));
        std::vector<OutputDeviceEntry> devices;
        devices.push_back({"Box", std::make_unique<HexDevice>(log)});
        PortTable ports;
        ports.OpenOutputs(std::move(devices), profile);
        const DatabaseResets resets(*database);
        ports.ResetMappedPorts(&resets);
        EXPECT_EQ(log, entry.sent);
    }
    // Unbound, the port only forgets its state.
    ASSERT_TRUE(database->UnbindPort("Box").ok);
    const DatabaseResets resets(*database);
    EXPECT_FALSE(resets.ForPort("Box"));
    database.reset();
    fs::remove_all(folder);
}

} // namespace
} // namespace cantivo
