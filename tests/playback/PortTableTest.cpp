#include "playback/PortTable.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace cantivo {
namespace {

// Every device of a table logs into one list, so the order across ports shows.
struct SharedLog {
    std::vector<std::string> lines;
};

class LoggingDevice final : public MidiOutDevice {
  public:
    LoggingDevice(SharedLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    void SendShort(uint32_t message) override
    {
        char text[32];
        std::snprintf(text, sizeof text, "%s %06X", name_.c_str(), message);
        log_.lines.push_back(text);
    }
    void SendLong(std::span<const uint8_t> bytes) override
    {
        log_.lines.push_back(name_ + " long " + std::to_string(bytes.size()));
    }

  private:
    SharedLog& log_;
    std::string name_;
};

std::vector<OutputDeviceEntry> Devices(SharedLog& log, const std::vector<std::string>& names)
{
    std::vector<OutputDeviceEntry> devices;
    for (const std::string& name : names)
        devices.push_back({name, std::make_unique<LoggingDevice>(log, name + "#" + std::to_string(devices.size()))});
    return devices;
}

TEST(PortTable, NamesAreMadeUniqueAndTheMappingStopsAtTheFirstGap)
{
    EXPECT_EQ(PortTable::UniqueNames({"Synth", "Port", "Synth", "Synth", "Port"}),
              (std::vector<std::string>{"Synth", "Port", "Synth (2)", "Synth (3)", "Port (2)"}));

    struct Case {
        std::vector<std::pair<std::string, std::string>> saved;
        std::vector<int32_t> mapping;
    };
    const Case cases[] = {
        {{}, {0, 1, 2}},                                              // nothing saved: the identity
        {{{"MIDIOUT0", "Synth (2)"}, {"MIDIOUT1", "Synth"}}, {2, 0}}, // a saved name reaches the second Synth
        {{{"MIDIOUT0", "Port"}, {"MIDIOUT2", "Synth"}}, {1}},         // logical port 1 missing: reading stops
        {{{"MIDIOUT0", "Gone"}, {"MIDIOUT1", "Port"}}, {-1, 1}},      // a name that matches no device
    };
    for (const Case& c : cases) {
        test::MemoryProfile profile;
        for (const auto& [value, name] : c.saved)
            ASSERT_TRUE(profile.WriteString("PortsToUse", value, name));
        SharedLog log;
        PortTable table;
        table.OpenOutputs(Devices(log, {"Synth", "Port", "Synth"}), profile);
        EXPECT_EQ(table.OutputMapping(), c.mapping);
        EXPECT_EQ(table.Output(2).Name(), "Synth (2)");
        for (size_t logical = 0; logical < c.mapping.size(); ++logical) {
            MidiOutPort* port = table.OutputForLogical(static_cast<int>(logical));
            EXPECT_EQ(port ? port->Name() : "-",
                      c.mapping[logical] < 0 ? "-" : table.Output(c.mapping[logical]).Name());
        }
        EXPECT_EQ(table.OutputForLogical(static_cast<int>(c.mapping.size())), nullptr);
    }
}

TEST(PortTable, TimerResolutionIsBroughtWithinWhatTheTimerCanDo)
{
    EXPECT_EQ(PortTable::ClampTimerResolution(0, 1, 100), 1);
    EXPECT_EQ(PortTable::ClampTimerResolution(2, 1, 100), 2);
    EXPECT_EQ(PortTable::ClampTimerResolution(500, 1, 100), 100);
}

class FixedLookup final : public SynthResetLookup {
  public:
    std::optional<SynthReset> ForPort(const std::string& name) const override
    {
        if (name == "Synth")
            return SynthReset{ResetGeneralMidi | ResetGs | ResetUserSysex | ResetAllSoundOff, "F0 41 F7"};
        return std::nullopt;
    }
};

// "Reset MIDI" resets each mapped device once, logical entries from the last to the first; a port
// without a synthesizer only forgets its state.
TEST(PortTable, ResetMidiResetsEachMappedDeviceOnceFromTheLastLogicalPort)
{
    test::MemoryProfile profile;
    for (const auto& [value, name] : std::vector<std::pair<std::string, std::string>>{
             {"MIDIOUT0", "Synth"}, {"MIDIOUT1", "Port"}, {"MIDIOUT2", "Synth"}})
        ASSERT_TRUE(profile.WriteString("PortsToUse", value, name));
    SharedLog log;
    PortTable table;
    table.OpenOutputs(Devices(log, {"Synth", "Port"}), profile);
    table.Output(1).SetBankAndProgram(0, 0, 4);
    table.Output(0).SendAndHold(0x403C90, 1);
    log.lines.clear();

    FixedLookup lookup;
    table.ResetMappedPorts(&lookup);
    std::vector<std::string> expected = {"Synth#0 long 6", "Synth#0 long 11", "Synth#0 long 3"};
    for (int channel = 0; channel < 16; ++channel) {
        char text[32];
        std::snprintf(text, sizeof text, "Synth#0 %06X", 0x78B0 | channel);
        expected.push_back(text);
    }
    EXPECT_EQ(log.lines, expected) << "Synth once, before Port (which sends nothing)";
    EXPECT_EQ(table.Output(1).Program(0), UnknownByte) << "the unbound port's state is cleared";
    EXPECT_TRUE(table.Output(0).HeldNotes().empty());

    // Free stuck notes reaches every port; a reset emptied the played ranges, so only what sounded since.
    log.lines.clear();
    table.Output(1).SendAndHold(0x403C91, 1);
    log.lines.clear();
    table.FreeStuckNotes();
    EXPECT_EQ(log.lines, std::vector<std::string>{"Port#1 003C91"});
}

} // namespace
} // namespace cantivo
