#include "platform/SynthRenderer.h"

#include "platform/FluidEngine.h"

#include <fluidsynth.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace cantivo {

namespace {

constexpr size_t BufferFrames = 1024;
// -90 dBFS, a little under one step of 16-bit audio.
constexpr float SilenceLevel = 3.1623e-5f;
constexpr int64_t SilentStretchFrames = SynthRenderer::SampleRate / 10;

std::string CannotWrite(const std::string& path, const std::string& reason)
{
    return "The rendered audio cannot be written to \"" + path + "\": " + reason + ".";
}

int16_t ToPcm(float sample)
{
    const float scaled = std::clamp(sample, -1.0f, 1.0f) * 32767.0f;
    return static_cast<int16_t>(std::lrintf(scaled));
}

} // namespace

int64_t SynthRenderer::SampleAt(int64_t microseconds)
{
    if (microseconds <= 0)
        return 0;
    return (microseconds * SampleRate + 500000) / 1000000;
}

std::unique_ptr<SynthRenderer> SynthRenderer::Open(const SoundFontChoice& soundFont, const MicrosecondClock& clock,
                                                   const std::string& wavPath, std::string& error)
{
    namespace fs = std::filesystem;
    const fs::path target(wavPath);
    if (target.filename().empty()) {
        error = CannotWrite(wavPath, "that is a folder, not a file name");
        return nullptr;
    }
    std::error_code ignored;
    if (fs::is_directory(target, ignored)) {
        error = CannotWrite(wavPath, "a folder of that name is there");
        return nullptr;
    }
    auto engine = FluidEngine::Create(soundFont, SampleRate, false, error);
    if (!engine)
        return nullptr;

    // A hidden temporary beside the target, so the final rename stays on one file system.
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".part-XXXXXX")).string();
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        error = CannotWrite(wavPath, std::strerror(errno));
        return nullptr;
    }
    // mkstemp makes the file private; the finished file gets the mode a plain new file would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor, 0666 & ~mask);

    SF_INFO info{};
    info.samplerate = SampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_fd(descriptor, SFM_WRITE, &info, SF_TRUE);
    if (!file) {
        error = CannotWrite(wavPath, sf_strerror(nullptr));
        ::close(descriptor);
        ::unlink(temporary.c_str());
        return nullptr;
    }
    return std::unique_ptr<SynthRenderer>(new SynthRenderer(std::move(engine), clock, file, temporary, wavPath));
}

SynthRenderer::SynthRenderer(std::unique_ptr<FluidEngine> engine, const MicrosecondClock& clock, SNDFILE* file,
                             std::string temporaryPath, std::string wavPath)
    : engine_(std::move(engine)), clock_(clock), start_(clock.NowMicroseconds()), file_(file),
      temporaryPath_(std::move(temporaryPath)), wavPath_(std::move(wavPath)), floatBuffer_(BufferFrames * 2),
      pcmBuffer_(BufferFrames * 2)
{
    queue_.reserve(QueueCapacity);
    sysexPool_.reserve(SysexPoolBytes);
}

SynthRenderer::~SynthRenderer()
{
    if (file_)
        sf_close(file_);
    if (!finished_)
        ::unlink(temporaryPath_.c_str());
}

int64_t SynthRenderer::StampNow() const
{
    int64_t sample = SampleAt(clock_.NowMicroseconds() - start_);
    // A message never goes before one sent earlier, nor into audio already written.
    if (!queue_.empty())
        sample = std::max(sample, queue_.back().sample);
    return std::max(sample, framesWritten_);
}

void SynthRenderer::SendShort(uint32_t message)
{
    if (finished_)
        return;
    Enqueue({StampNow(), message, 0, 0});
}

void SynthRenderer::SendLong(std::span<const uint8_t> bytes)
{
    if (finished_ || bytes.empty())
        return;
    const int64_t sample = StampNow();
    if (bytes.size() > SysexPoolBytes) {
        // Larger than the whole pool: everything before it is written out, then it is applied at once.
        RenderToSample(sample);
        engine_->Long(bytes);
        return;
    }
    if (sysexPool_.size() + bytes.size() > SysexPoolBytes)
        RenderToSample(queue_.empty() ? framesWritten_ : queue_.back().sample);
    const auto at = static_cast<uint32_t>(sysexPool_.size());
    sysexPool_.insert(sysexPool_.end(), bytes.begin(), bytes.end());
    Enqueue({sample, 0, at, static_cast<uint32_t>(bytes.size())});
}

void SynthRenderer::Enqueue(const Queued& entry)
{
    // Full: write the audio up to the newest message rather than drop any.
    if (queue_.size() == QueueCapacity)
        RenderToSample(queue_.back().sample);
    queue_.push_back(entry);
}

void SynthRenderer::Apply(const Queued& entry)
{
    if (entry.sysexSize > 0)
        engine_->Long(std::span<const uint8_t>(sysexPool_.data() + entry.sysexAt, entry.sysexSize));
    else
        engine_->Short(entry.message);
}

void SynthRenderer::RenderUntil(int64_t microseconds)
{
    RenderToSample(SampleAt(microseconds - start_));
}

void SynthRenderer::RenderToSample(int64_t target)
{
    size_t applied = 0;
    for (; applied < queue_.size() && queue_[applied].sample <= target; ++applied) {
        const Queued& entry = queue_[applied];
        if (entry.sample > framesWritten_)
            Render(entry.sample - framesWritten_);
        Apply(entry);
    }
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(applied));
    if (queue_.empty())
        sysexPool_.clear();
    if (target > framesWritten_)
        Render(target - framesWritten_);
}

void SynthRenderer::Render(int64_t frames)
{
    while (frames > 0) {
        const auto count = static_cast<int>(std::min<int64_t>(frames, BufferFrames));
        float* samples = floatBuffer_.data();
        fluid_synth_write_float(engine_->Synth(), count, samples, 0, 2, samples, 1, 2);
        for (int i = 0; i < count * 2; i += 2) {
            const bool quiet = std::fabs(samples[i]) < SilenceLevel && std::fabs(samples[i + 1]) < SilenceLevel;
            quietFrames_ = quiet ? quietFrames_ + 1 : 0;
            pcmBuffer_[i] = ToPcm(samples[i]);
            pcmBuffer_[i + 1] = ToPcm(samples[i + 1]);
        }
        if (failure_.empty() && sf_writef_short(file_, pcmBuffer_.data(), count) != count)
            Fail(sf_strerror(file_));
        framesWritten_ += count;
        frames -= count;
    }
}

bool SynthRenderer::FinishTail(double maxSeconds)
{
    RenderToSample(queue_.empty() ? framesWritten_ : queue_.back().sample);
    const int64_t limit = framesWritten_ + static_cast<int64_t>(std::max(0.0, maxSeconds) * SampleRate);
    while (quietFrames_ < SilentStretchFrames && framesWritten_ < limit)
        Render(std::min<int64_t>(SampleRate / 100, limit - framesWritten_));
    return quietFrames_ >= SilentStretchFrames;
}

void SynthRenderer::Fail(const std::string& reason)
{
    if (failure_.empty())
        failure_ = CannotWrite(wavPath_, reason);
}

bool SynthRenderer::Finish(std::string& error)
{
    if (!finished_) {
        RenderToSample(queue_.empty() ? framesWritten_ : queue_.back().sample);
        finished_ = true;
        if (failure_.empty())
            sf_write_sync(file_);
        if (const int closed = sf_close(file_); closed != 0 && failure_.empty())
            Fail(sf_error_number(closed));
        file_ = nullptr;
        if (failure_.empty() && std::rename(temporaryPath_.c_str(), wavPath_.c_str()) != 0)
            Fail(std::strerror(errno));
        if (!failure_.empty())
            ::unlink(temporaryPath_.c_str());
    }
    if (!failure_.empty())
        error = failure_;
    return failure_.empty();
}

} // namespace cantivo
