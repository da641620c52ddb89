#pragma once

#include "platform/SynthDevice.h"
#include "playback/MicrosecondClock.h"
#include "playback/MidiOutDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sf_private_tag;

namespace cantivo {

class FluidEngine;

// The built-in synth rendering to a WAV file (44100 Hz, stereo, 16-bit PCM) in virtual time. Every send
// is stamped with the clock and queued; RenderUntil then writes the audio up to a time, applying each
// message at its own sample rather than at the end of a buffer (see EventGridFrames). The file is written under a
// temporary name beside the target and renamed by Finish, so a failed render leaves no partial file. One thread only;
// the same sends at the same times give the same samples.
class SynthRenderer final : public MidiOutDevice {
  public:
    static constexpr int SampleRate = 44100;
    static constexpr size_t QueueCapacity = 16384;
    static constexpr size_t SysexPoolBytes = size_t{1} << 18;
    // FluidSynth computes audio in blocks of this many frames and starts what a message changes at the
    // next block: a message is applied after exactly the frames before its sample are written, and is
    // heard up to this many frames minus one later when its sample is not on the grid.
    static constexpr int64_t EventGridFrames = 64;

    // Null with one line in `error` when the SoundFont is unusable or the file cannot be created.
    // Time 0 of the file is the clock's time now.
    static std::unique_ptr<SynthRenderer> Open(const SoundFontChoice& soundFont, const MicrosecondClock& clock,
                                               const std::string& wavPath, std::string& error);
    // An unfinished render removes its temporary file.
    ~SynthRenderer() override;
    SynthRenderer(const SynthRenderer&) = delete;
    SynthRenderer& operator=(const SynthRenderer&) = delete;

    std::string Name() const override { return SynthDeviceName; }
    void SendShort(uint32_t message) override;
    void SendLong(std::span<const uint8_t> bytes) override;

    // Writes audio up to clock time `microseconds` (the sample round(t * 44100 / 1e6) after the start),
    // applying every queued message stamped up to then.
    void RenderUntil(int64_t microseconds);
    // After the queued messages, renders until the output has stayed under -90 dBFS for 100 ms or
    // `maxSeconds` have passed; true when it fell silent.
    [[nodiscard]] bool FinishTail(double maxSeconds);
    // Closes the file and gives it its name; false with the reason when the render failed.
    [[nodiscard]] bool Finish(std::string& error);

    int64_t FramesWritten() const { return framesWritten_; }
    // The sample a time after the start falls on.
    static int64_t SampleAt(int64_t microseconds);

  private:
    struct Queued {
        int64_t sample;
        uint32_t message;   // a short message, or 0 for a long one
        uint32_t sysexAt;   // where a long message's bytes start in the pool
        uint32_t sysexSize; // and how many there are
    };

    SynthRenderer(std::unique_ptr<FluidEngine> engine, const MicrosecondClock& clock, sf_private_tag* file,
                  std::string temporaryPath, std::string wavPath);
    int64_t StampNow() const;
    void Enqueue(const Queued& entry);
    void Apply(const Queued& entry);
    // Applies the messages stamped up to `target` at their samples and writes the audio up to it.
    void RenderToSample(int64_t target);
    // Renders `frames` more frames into the file.
    void Render(int64_t frames);
    void Fail(const std::string& reason);

    std::unique_ptr<FluidEngine> engine_;
    const MicrosecondClock& clock_;
    const int64_t start_;
    sf_private_tag* file_;
    const std::string temporaryPath_;
    const std::string wavPath_;
    std::vector<Queued> queue_;
    std::vector<uint8_t> sysexPool_;
    std::vector<float> floatBuffer_;
    std::vector<int16_t> pcmBuffer_;
    int64_t framesWritten_ = 0;
    int64_t quietFrames_ = 0; // frames in a row under the silence level, at the end of the output
    bool finished_ = false;
    std::string failure_;
};

} // namespace cantivo
