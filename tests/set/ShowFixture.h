#pragma once

#include "playback/EngineFixture.h"
#include "set/SetViewModel.h"

namespace cantivo::test {

// Activates the set's songs on the test engine, as the programs' rigs do.
struct EngineActivator final : SongActivator {
    explicit EngineActivator(Engine& engine) : engine(engine) {}
    void Activate(Song& song, int32_t start, std::unique_ptr<PlaybackModel> prepared) override
    {
        ++activations;
        if (prepared) {
            ++preparedActivations;
            AttachPorts(*prepared, engine.ports, {});
        } else {
            prepared = BuildPlaybackModel(song, engine.ports, {}, 30);
        }
        engine.sequencer->Activate(std::move(prepared), start, song.currentPosition);
    }
    int activations = 0;
    int preparedActivations = 0;
    Engine& engine;
};

} // namespace cantivo::test
