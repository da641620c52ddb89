#include "platform/AlsaMessages.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace cantivo {

namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

} // namespace

void SilenceAlsaLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(IgnoreAlsaMessage); });
}

} // namespace cantivo
