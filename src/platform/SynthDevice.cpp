#include "platform/SynthDevice.h"

#include "platform/AlsaMessages.h"
#include "platform/FluidEngine.h"
#include "song/Profile.h"

#include <fluidsynth.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace cantivo {

namespace {

constexpr int LiveSampleRate = 44100;

// A SoundFont 2 file is a RIFF file of form "sfbk". Checked here rather than by FluidSynth, whose own
// check leaks when the file is something else.
bool HasSoundFontHeader(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char header[12] = {};
    const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    return read && std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "sfbk", 4) == 0;
}

} // namespace

std::string SoundFontMessage(const SoundFontChoice& choice, const std::string& reason)
{
    const std::string source = choice.fromSetting ? "(setting \"Synth\"/\"SoundFont\")"
                                                  : "(chosen instead of setting \"Synth\"/\"SoundFont\")";
    return "The SoundFont \"" + choice.path + "\" " + source + " could not be loaded: " + reason +
           ". Install timgm6mb-soundfont or set Synth/SoundFont to a General MIDI .sf2 file.";
}

SoundFontChoice ResolveSoundFont(const Profile& profile, const std::optional<std::string>& overridePath)
{
    SoundFontChoice choice;
    if (overridePath && !overridePath->empty()) {
        choice.path = *overridePath;
        choice.fromSetting = false;
    } else {
        choice.path = profile.GetString("Synth", "SoundFont", DefaultSoundFont);
        if (choice.path.empty())
            choice.path = DefaultSoundFont;
    }
    struct stat info {};
    if (::stat(choice.path.c_str(), &info) != 0) {
        choice.error =
            SoundFontMessage(choice, errno == ENOENT || errno == ENOTDIR ? "file not found" : std::strerror(errno));
    } else if (!S_ISREG(info.st_mode)) {
        choice.error = SoundFontMessage(choice, "it is not a file");
    } else if (::access(choice.path.c_str(), R_OK) != 0) {
        choice.error = SoundFontMessage(choice, "permission denied");
    } else if (!HasSoundFontHeader(choice.path)) {
        choice.error = SoundFontMessage(choice, "it is not a SoundFont (.sf2) file");
    }
    return choice;
}

std::unique_ptr<SynthDevice> SynthDevice::Open(const SoundFontChoice& soundFont, std::string& error)
{
    SilenceAlsaLibraryMessages();
    auto engine = FluidEngine::Create(soundFont, LiveSampleRate, true, error);
    if (!engine)
        return nullptr;
    static constexpr const char* Drivers[] = {"pipewire", "pulseaudio", "alsa", "jack"};
    std::string tried;
    for (const char* driver : Drivers) {
        FluidEngine::ClearError();
        fluid_settings_setstr(engine->Settings(), "audio.driver", driver);
        if (fluid_audio_driver_t* opened = new_fluid_audio_driver(engine->Settings(), engine->Synth()))
            return std::unique_ptr<SynthDevice>(new SynthDevice(std::move(engine), opened, driver));
        std::string why = FluidEngine::FirstError();
        while (!why.empty() && (why.back() == '.' || why.back() == ' '))
            why.pop_back();
        tried += std::string(tried.empty() ? "" : "; ") + driver + (why.empty() ? "" : ": " + why);
    }
    error = "The built-in synth \"" + std::string(SynthDeviceName) + "\" has no audio device to play through (" +
            tried + ").";
    return nullptr;
}

SynthDevice::SynthDevice(std::unique_ptr<FluidEngine> engine, _fluid_audio_driver_t* driver, std::string driverName)
    : engine_(std::move(engine)), driver_(driver), driverName_(std::move(driverName))
{
}

SynthDevice::~SynthDevice()
{
    Drain();
}

void SynthDevice::SendShort(uint32_t message)
{
    if (driver_)
        engine_->Short(message);
}

void SynthDevice::SendLong(std::span<const uint8_t> bytes)
{
    if (driver_)
        engine_->Long(bytes);
}

void SynthDevice::Drain(double maxSeconds)
{
    if (!driver_)
        return;
    engine_->AllNotesOff();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(maxSeconds);
    while (engine_->ActiveVoices() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    delete_fluid_audio_driver(driver_);
    driver_ = nullptr;
}

} // namespace cantivo
