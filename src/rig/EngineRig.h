#pragma once

#include "playback/MicrosecondClock.h"
#include "playback/MidiInPort.h"
#include "playback/NotificationQueue.h"
#include "playback/PortTable.h"
#include "playback/Sequencer.h"
#include "set/SetViewModel.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

class CaptureLog;
class Session;
class Profile;
class Song;
class SynthDatabase;
class SynthDevice;
class DatabaseResets;
class SynthRenderer;

// How `play` and `render` want their devices.
struct RigOptions {
    bool render = false;
    std::string wavPath;                  // render: the synth's output
    std::string capturePath;              // --capture: the log (empty: none)
    std::string portName;                 // --port: play through this device alone (empty: the mapping)
    std::optional<std::string> soundFont; // --soundfont
    SynthDatabase* synths = nullptr;      // the port resets' synthesizers (none: resets clear state only)
    bool inputs = false;                  // listen to the MIDI inputs: the control map and thru
};

// The engine of one `play` or `render`: the output devices, the port table and the sequencer, built
// the way the settings and the options ask.
class EngineRig final : public SongActivator {
  public:
    explicit EngineRig(const MicrosecondClock& clock);
    ~EngineRig() override;
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

    // Opens the devices; false with the message in `error` (and `usageError` set for a port name that
    // does not exist). `notices` gets plain lines worth telling (no MIDI ports, no audio device).
    [[nodiscard]] bool Open(Profile& profile, const RigOptions& options, std::string& error, bool& usageError,
                            std::vector<std::string>& notices);
    // After an edit of the current song: the engine takes a new model of it where it stands.
    void Rebuild(const Song& song);
    // Activates the song at `start`.
    void Load(const Song& song, int32_t start);
    // A song change of a set: at `start`, or at the song's own position for -1.
    void Activate(Song& song, int32_t start, std::unique_ptr<PlaybackModel> prepared) override;
    // The UI loop's turn at the engine's notifications: each halt is settled (a cue waits for the tap,
    // the song's end stops and goes to `endOfSong`). The outcome of the last halt, if there was one.
    std::optional<HaltOutcome> HandleNotifications(EndOfSongHandler* endOfSong = nullptr);
    // Where control-map actions and song selects from the inputs go (on the UI loop).
    void OnInput(std::function<void(const EngineNotification&)> handler) { inputHandler_ = std::move(handler); }
    // The inputs listened to, by their unique names; the output devices by theirs.
    std::vector<std::string> InputNames() const;
    std::vector<std::string> OutputNames();
    // After the control-map dialog's OK: every input takes the map in use and its on/off (a held
    // press ends).
    void ReloadControlMap();
    // Whether any input holds a control press: the probe that ends a repeat whose release was lost.
    bool ControlHeld() const;
    // What the control-map entry dialog learns from: every input hears for it while it is armed.
    ControlLearner& Learner() { return learner_; }
    // Stops and silences, then closes the capture log; false with the reason when the log is incomplete.
    [[nodiscard]] bool Close(std::string& error);

    Sequencer& Engine() { return *sequencer_; }
    NotificationQueue& Notifications() { return notifications_; }
    PortTable& Ports() { return ports_; }
    SynthRenderer* Renderer() { return renderer_; }
    SynthDevice* LiveSynth() { return synth_; }
    CaptureLog* Capture() { return capture_.get(); }
    Profile* Settings() { return profile_; }

  private:
    void OpenInputs(Profile& profile);

    const MicrosecondClock& clock_;
    Profile* profile_ = nullptr;
    std::unique_ptr<Profile> portOverride_;
    std::unique_ptr<CaptureLog> capture_;
    NotificationQueue notifications_;
    PortTable ports_;
    std::unique_ptr<DatabaseResets> resets_;
    std::vector<std::unique_ptr<MidiInDevice>> inputDevices_;
    ControlLearner learner_;
    std::vector<std::unique_ptr<MidiInPort>> inputs_;
    std::function<void(const EngineNotification&)> inputHandler_;
    std::unique_ptr<Sequencer> sequencer_;
    SynthRenderer* renderer_ = nullptr;
    SynthDevice* synth_ = nullptr;
};

} // namespace cantivo
