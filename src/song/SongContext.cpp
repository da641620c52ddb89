#include "song/SongContext.h"

#include <chrono>

namespace cantivo {

uint32_t SteadyClock::Milliseconds() const
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

SongContext DefaultSongContext()
{
    static EmptyProfile profile;
    static SilentPrompter prompter;
    static SteadyClock clock;
    static NoAudioFiles audio;
    return SongContext{&profile, &prompter, &clock, &audio, {}};
}

} // namespace cantivo
