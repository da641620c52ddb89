#pragma once

#include "playback/EngineFixture.h"
#include "set/SetViewModel.h"

namespace cantivo::test {

// Activates the set's songs on the test engine, as the programs' rigs do.
struct EngineActivator final : SongActivator {
    explicit EngineActivator(Engine& engine) : engine(engine) {}
    void Activate(Song& song, int32_t start) override
    {
        engine.sequencer->Activate(BuildPlaybackModel(song, engine.ports, {}, 30), start, song.currentPosition);
    }
    Engine& engine;
};

} // namespace cantivo::test
