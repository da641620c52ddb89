#include "platform/FluidEngine.h"

#include <fluidsynth.h>
#include <glib.h>

#include <cstring>
#include <mutex>

namespace cantivo {

namespace {

// FluidSynth may log from its audio thread, so the text goes to a fixed buffer, not a std::string.
std::mutex errorMutex;
char firstError[512];

void KeepError(int level, const char* message, void*)
{
    if ((level != FLUID_PANIC && level != FLUID_ERR) || !message)
        return;
    std::lock_guard lock(errorMutex);
    if (firstError[0] != '\0')
        return;
    std::strncpy(firstError, message, sizeof firstError - 1);
    firstError[sizeof firstError - 1] = '\0';
}

void IgnoreMessage(int, const char*, void*) {}

void IgnoreGlibMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// A file FluidSynth's own loader refuses goes on to its DLS loader, libinstpatch, which complains
// through GLib; those lines are kept off stderr while a SoundFont loads.
class GlibQuiet {
  public:
    GlibQuiet()
    {
        const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_RECURSION);
        plain_ = g_log_set_handler(nullptr, levels, IgnoreGlibMessage, nullptr);
        instpatch_ = g_log_set_handler("libInstPatch", levels, IgnoreGlibMessage, nullptr);
    }
    ~GlibQuiet()
    {
        g_log_remove_handler(nullptr, plain_);
        g_log_remove_handler("libInstPatch", instpatch_);
    }
    GlibQuiet(const GlibQuiet&) = delete;
    GlibQuiet& operator=(const GlibQuiet&) = delete;

  private:
    guint plain_;
    guint instpatch_;
};

} // namespace

void FluidEngine::SilenceLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, KeepError, nullptr);
        fluid_set_log_function(FLUID_ERR, KeepError, nullptr);
        fluid_set_log_function(FLUID_WARN, IgnoreMessage, nullptr);
        fluid_set_log_function(FLUID_INFO, IgnoreMessage, nullptr);
        fluid_set_log_function(FLUID_DBG, IgnoreMessage, nullptr);
    });
}

std::string FluidEngine::FirstError()
{
    std::lock_guard lock(errorMutex);
    return firstError;
}

void FluidEngine::ClearError()
{
    std::lock_guard lock(errorMutex);
    firstError[0] = '\0';
}

std::unique_ptr<FluidEngine> FluidEngine::Create(const SoundFontChoice& soundFont, int sampleRate, bool realTime,
                                                 std::string& error)
{
    SilenceLog();
    if (!soundFont.error.empty()) {
        error = soundFont.error;
        return nullptr;
    }
    fluid_settings_t* settings = new_fluid_settings();
    if (!settings) {
        error = "The built-in synth could not be set up (FluidSynth has no settings).";
        return nullptr;
    }
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    // One core and no extra threads: a render is then the same, sample for sample, every time.
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    fluid_settings_setint(settings, "synth.threadsafe-api", realTime ? 1 : 0);
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    fluid_settings_setint(settings, "synth.verbose", 0);
    ClearError();
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (!synth) {
        error = "The built-in synth could not be set up: " + FirstError();
        delete_fluid_settings(settings);
        return nullptr;
    }
    int loaded = FLUID_FAILED;
    {
        GlibQuiet quiet;
        loaded = fluid_synth_sfload(synth, soundFont.path.c_str(), 1);
    }
    if (loaded == FLUID_FAILED) {
        const std::string detail = FirstError();
        error =
            SoundFontMessage(soundFont, "FluidSynth could not read it" + (detail.empty() ? "" : " (" + detail + ")"));
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
        return nullptr;
    }
    return std::unique_ptr<FluidEngine>(new FluidEngine(settings, synth));
}

FluidEngine::~FluidEngine()
{
    delete_fluid_synth(synth_);
    delete_fluid_settings(settings_);
}

void FluidEngine::Short(uint32_t message)
{
    const int status = static_cast<int>(message & 0xFF);
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth_, channel, data1);
        break;
    case 0x90:
        if (data2 == 0)
            fluid_synth_noteoff(synth_, channel, data1);
        else
            fluid_synth_noteon(synth_, channel, data1, data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth_, channel, data1, data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth_, channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth_, channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth_, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7));
        break;
    default:
        // System common and real-time messages mean nothing to a synth that has no transport.
        break;
    }
}

void FluidEngine::Long(std::span<const uint8_t> bytes)
{
    // FluidSynth wants the body between F0 and F7.
    if (bytes.size() < 2 || bytes.front() != 0xF0)
        return;
    size_t length = bytes.size() - 1;
    if (bytes.back() == 0xF7)
        --length;
    if (length == 0)
        return;
    fluid_synth_sysex(synth_, reinterpret_cast<const char*>(bytes.data() + 1), static_cast<int>(length), nullptr,
                      nullptr, nullptr, 0);
}

int FluidEngine::ActiveVoices() const
{
    return fluid_synth_get_active_voice_count(synth_);
}

void FluidEngine::AllNotesOff()
{
    fluid_synth_all_notes_off(synth_, -1);
}

} // namespace cantivo
