// Reads any bytes as an accelerator map file; what it reads must write back and read again as the same maps.
#include "app/AccelMap.h"
#include "song/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    const AccelMapFileRead read = ReadAccelMapFile({data, size});
    if (!read.complete && read.error.empty())
        std::abort(); // a refused file always says why
    for (const AccelMap& map : read.maps) {
        if (!IsValidUtf8(map.name) || map.entries.size() > MaxAccelEntries)
            std::abort();
        for (const AccelEntry& entry : map.entries)
            if (ShortcutText(entry).empty())
                std::abort();
    }
    const AccelMapFileRead again = ReadAccelMapFile(WriteAccelMapFile(read.maps));
    if (!again.complete || again.maps != read.maps)
        std::abort();
    return 0;
}
