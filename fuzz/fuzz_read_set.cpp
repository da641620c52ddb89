// Reads any bytes as a set file; what it reads must write back and read again as the same paths.
#include "set/SetFile.h"
#include "song/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    SetFileContents contents;
    std::string error;
    if (!ParseSetFile({data, size}, contents, error))
        return 0;
    for (const std::string& path : contents.paths)
        if (!IsValidUtf8(path))
            std::abort(); // every path reaches the program as UTF-8
    SetFileContents again;
    if (!ParseSetFile(SetFileBytes(contents.paths), again, error) || again.paths != contents.paths || again.truncated)
        std::abort();
    return 0;
}
