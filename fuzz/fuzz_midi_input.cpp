// Any bytes as MIDI input (through a port with a control map made of the first bytes) and as a
// control map file. The input must never crash or stick; a file read whole must write back the same.
#include "playback/ControlMap.h"
#include "playback/MidiInPort.h"
#include "playback/NotificationQueue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    NotificationQueue queue;
    MidiInPort port(0, "Fuzz", queue);
    ControlLearner learner;
    port.Connect(nullptr, nullptr, &learner);
    const size_t mapBytes = size < 64 ? size / 4 * 4 : 64;
    port.SetEntries(ControlEntriesFromBytes({data, mapBytes}));
    if (size > 0 && (data[0] & 1) != 0)
        learner.Arm();
    port.OnMidiIn(0, {data, size});
    // Whatever came before, a press and its release on a clean status are seen as such.
    const uint8_t clean[] = {0xB0, 0x40, 0x00, 0x90, 0x3C, 0x00, 0x80, 0x3C, 0x00};
    port.OnMidiIn(0, clean);
    if (port.NoteState(0, 0x3C) != 0 || port.ControllerState(0, 0x40) != 0)
        std::abort();
    while (queue.Take()) {
    }

    std::string error;
    const std::vector<ControlMap> maps = ReadControlMapFile({data, size}, error);
    if (error.empty()) {
        std::vector<ControlMap> reversed(maps.rbegin(), maps.rend());
        std::string again;
        const std::vector<ControlMap> reread = ReadControlMapFile(ControlMapFileBytes(reversed), again);
        if (!again.empty() || reread != maps)
            std::abort();
    }
    return 0;
}
