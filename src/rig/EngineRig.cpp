#include "rig/EngineRig.h"

#include "app/ControlMapStore.h"
#include "app/PlaybackHalted.h"
#include "app/SynthResets.h"
#include "platform/CaptureLog.h"
#include "platform/RtMidiBackend.h"
#include "platform/SynthDevice.h"
#include "platform/SynthRenderer.h"
#include "playback/PlaybackModel.h"
#include "rig/Session.h"
#include "song/PositionText.h"
#include "song/Profile.h"
#include "song/Song.h"

#include <algorithm>

namespace cantivo {

namespace {

// The settings with every logical output port naming one device: `--port NAME`.
class OnePortProfile final : public Profile {
  public:
    OnePortProfile(Profile& settings, std::string name) : settings_(settings), name_(std::move(name)) {}
    int32_t GetInt(const std::string& section, const std::string& value, int32_t fallback) const override
    {
        return settings_.GetInt(section, value, fallback);
    }
    std::string GetString(const std::string& section, const std::string& value,
                          const std::string& fallback) const override
    {
        if (section == "PortsToUse" && value.starts_with("MIDIOUT"))
            return name_;
        return settings_.GetString(section, value, fallback);
    }
    bool WriteInt(const std::string&, const std::string&, int32_t) override { return true; }
    bool WriteString(const std::string&, const std::string&, const std::string&) override { return true; }
    std::optional<std::vector<uint8_t>> GetBinary(const std::string& key, const std::string& value) const override
    {
        return settings_.GetBinary(key, value);
    }
    bool WriteBinary(const std::string&, const std::string&, const std::vector<uint8_t>&) override { return true; }
    std::vector<std::string> EnumValues(const std::string& key) const override { return settings_.EnumValues(key); }
    bool DeleteValue(const std::string&, const std::string&) override { return true; }

  private:
    Profile& settings_;
    const std::string name_;
};

std::vector<std::string> LogicalNames(const Profile& profile)
{
    std::vector<std::string> names;
    for (int i = 0; i < PortTable::MaxLogicalPorts; ++i)
        names.push_back(profile.GetString("PortsToUse", "MIDIOUT" + std::to_string(i), ""));
    return names;
}

} // namespace

EngineRig::EngineRig(const MicrosecondClock& clock) : clock_(clock) {}

EngineRig::~EngineRig()
{
    for (const auto& device : inputDevices_)
        device->Stop();
    if (sequencer_)
        sequencer_->Shutdown();
}

bool EngineRig::Open(Profile& profile, const RigOptions& options, std::string& error, bool& usageError,
                     std::vector<std::string>& notices)
{
    usageError = false;
    profile_ = &profile;
    if (options.portName == "Capture" && options.capturePath.empty()) {
        error = "--port Capture plays into the capture log: give its file with --capture FILE.";
        usageError = true;
        return false;
    }

    std::vector<OutputDeviceEntry> devices;
    const SoundFontChoice soundFont = ResolveSoundFont(profile, options.soundFont);
    if (options.render) {
        auto renderer = SynthRenderer::Open(soundFont, clock_, options.wavPath, error);
        if (!renderer)
            return false;
        renderer_ = renderer.get();
        devices.push_back({SynthDeviceName, std::move(renderer)});
    } else {
        std::string synthError;
        auto synth = options.portName.empty() || options.portName == SynthDeviceName
                         ? SynthDevice::Open(soundFont, synthError)
                         : nullptr;
        if (synth)
            synth_ = synth.get();
        else if (!synthError.empty())
            notices.push_back(synthError);
        // The synth keeps its place as device 0 even when it did not open, so mappings stay put.
        devices.push_back({SynthDeviceName, std::move(synth)});
        MidiPortList ports = RtMidiBackend::Enumerate(clock_);
        if (!ports.notice.empty())
            notices.push_back(ports.notice);
        for (auto& port : ports.outputs)
            devices.push_back(std::move(port));
        if (options.inputs)
            for (auto& input : ports.inputs)
                if (input.device)
                    inputDevices_.push_back(std::move(input.device));
    }
    if (!options.capturePath.empty())
        devices.push_back({"Capture", nullptr});

    std::vector<std::string> names;
    for (const auto& device : devices)
        names.push_back(device.name);
    const std::vector<std::string> unique = PortTable::UniqueNames(names);
    Profile* settings = &profile;
    if (!options.portName.empty()) {
        if (std::find(unique.begin(), unique.end(), options.portName) == unique.end()) {
            error = "There is no output device named \"" + options.portName + "\". The devices are:";
            for (const std::string& name : unique)
                error += " \"" + name + "\"";
            error += ". \"cantivo-cli ports\" lists them.";
            usageError = true;
            return false;
        }
        portOverride_ = std::make_unique<OnePortProfile>(profile, options.portName);
        settings = portOverride_.get();
    }
    // Opened once everything else is known good, so a refused render leaves no file behind.
    if (!options.capturePath.empty()) {
        capture_ = CaptureLog::Open(options.capturePath, clock_, error);
        if (!capture_)
            return false;
    }
    // Every device's messages go to the log too, under the first logical port that uses it.
    if (capture_) {
        const std::vector<int32_t> mapping = PortTable::ReadMapping(*settings, "MIDIOUT", unique);
        for (size_t i = 0; i < devices.size(); ++i) {
            const auto first = std::find(mapping.begin(), mapping.end(), static_cast<int32_t>(i));
            const int logical =
                first == mapping.end() ? static_cast<int>(i) : static_cast<int>(first - mapping.begin());
            if (i + 1 == devices.size())
                devices[i].device = std::make_unique<CaptureDevice>(*capture_, logical);
            else if (devices[i].device)
                devices[i].device = std::make_unique<CaptureTee>(std::move(devices[i].device), *capture_, logical);
        }
    }
    const bool anyOpen = std::any_of(devices.begin(), devices.end(), [](const auto& d) { return d.device != nullptr; });
    if (!anyOpen) {
        error = "There is no audio device and no MIDI port to play through. To hear the song, render it to a "
                "file: cantivo-cli render SONG OUT.wav";
        return false;
    }
    ports_.OpenOutputs(std::move(devices), *settings);
    sequencer_ = std::make_unique<Sequencer>(ports_, clock_, notifications_);
    const int period =
        PortTable::ClampTimerResolution(settings->GetInt("PlaybackOptions", "TimerResolution", 2), 1, 100);
    sequencer_->Start(*settings, period);
    if (options.synths != nullptr) {
        resets_ = std::make_unique<DatabaseResets>(*options.synths);
        sequencer_->SetSynthResets(resets_.get());
    }
    OpenInputs(profile);
    return true;
}

void EngineRig::Load(const Song& song, int32_t start)
{
    sequencer_->Activate(BuildPlaybackModel(song, ports_, LogicalNames(*profile_), song.GridTicks(0)), start);
}

void EngineRig::Activate(Song& song, int32_t start, std::unique_ptr<PlaybackModel> prepared)
{
    if (prepared)
        AttachPorts(*prepared, ports_, LogicalNames(*profile_));
    else
        prepared = BuildPlaybackModel(song, ports_, LogicalNames(*profile_), song.GridTicks(0));
    sequencer_->Activate(std::move(prepared), start, song.currentPosition);
}

void EngineRig::OpenInputs(Profile& profile)
{
    std::vector<std::string> names;
    for (const auto& device : inputDevices_)
        names.push_back(device->Name());
    const std::vector<std::string> unique = PortTable::UniqueNames(names);
    sequencer_->SetInputMapping(PortTable::ReadMapping(profile, "MIDIIN", unique));
    const ControlMapStore store(profile);
    const ControlMap map = store.ActiveMap();
    for (size_t i = 0; i < inputDevices_.size(); ++i) {
        auto port = std::make_unique<MidiInPort>(static_cast<int>(i), unique[i], notifications_);
        port->Connect(sequencer_.get(), sequencer_.get(), &learner_);
        port->SetControlEnabled(store.Enabled());
        port->SetEntries(map.entries);
        // Kept even when it would not start, so the inputs keep the numbers `control learn` gives them.
        (void)inputDevices_[i]->Start(*port);
        inputs_.push_back(std::move(port));
    }
}

std::vector<std::string> EngineRig::InputNames() const
{
    std::vector<std::string> names;
    for (const auto& input : inputs_)
        names.push_back(input->UniqueName());
    return names;
}

void EngineRig::Rebuild(const Song& song)
{
    sequencer_->Replace(BuildPlaybackModel(song, ports_, LogicalNames(*profile_), song.GridTicks(0)));
}

std::vector<std::string> EngineRig::OutputNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < ports_.OutputCount(); ++i)
        names.push_back(ports_.Output(i).Name());
    return names;
}

void EngineRig::ReloadControlMap()
{
    const ControlMapStore store(*profile_);
    const ControlMap map = store.ActiveMap();
    for (const auto& input : inputs_) {
        input->SetControlEnabled(store.Enabled());
        input->SetEntries(map.entries);
    }
}

bool EngineRig::ControlHeld() const
{
    return std::any_of(inputs_.begin(), inputs_.end(), [](const auto& input) { return input->Holding(); });
}

std::optional<HaltOutcome> EngineRig::HandleNotifications(EndOfSongHandler* endOfSong)
{
    std::optional<HaltOutcome> outcome;
    while (auto notification = notifications_.Take()) {
        if (notification->message == EngineMessage::MsgPlaybackHalted)
            outcome = HandlePlaybackHalted(*sequencer_, endOfSong);
        else if ((notification->message == EngineMessage::MsgControlAction ||
                  notification->message == EngineMessage::MsgSongSelect) &&
                 inputHandler_)
            inputHandler_(*notification);
    }
    return outcome;
}

bool EngineRig::Close(std::string& error)
{
    // No input callback may reach the engine once it is shut down.
    for (const auto& device : inputDevices_)
        device->Stop();
    if (sequencer_)
        sequencer_->Shutdown();
    if (capture_)
        return capture_->Close(error);
    return true;
}

} // namespace cantivo
