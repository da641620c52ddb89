// The synth data file reader takes any bytes; what it reads must write out and read back the same.
#include "synthdb/SynthFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const cantivo::SynthImport first = cantivo::ParseSynthText("Fuzz", text);
    const cantivo::SynthImport second = cantivo::ParseSynthText("Fuzz", cantivo::ExportSynthText(first.synth));
    if (!(second.synth == first.synth) || !second.messages.empty())
        __builtin_trap();
    return 0;
}
