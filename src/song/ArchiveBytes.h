#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cantivo {

// Reads the little-endian archive form the set file and the map files share: whole numbers of 1, 2 or
// 4 bytes and counted strings. Every read is bounded by what is there.
class ArchiveReader {
  public:
    explicit ArchiveReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool Left(size_t count) const { return bytes_.size() - at_ >= count; }
    bool AtEnd() const { return at_ == bytes_.size(); }
    // A number of `size` bytes; call only after Left(size).
    uint32_t Take(int size);
    std::span<const uint8_t> Bytes(size_t count);
    // A counted string: one length byte below 255, else FF and 16 bits, else FF FF FF and 32 bits; the
    // wide form (FF FE FF and its own length) holds UTF-16. Read as UTF-8, a name that is not valid
    // UTF-8 as Windows-1252. False when the bytes end inside it.
    bool CountedString(std::string& text);

  private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

void PutArchiveNumber(std::vector<uint8_t>& out, uint32_t value, int size);
void PutCountedString(std::vector<uint8_t>& out, const std::string& text);

} // namespace cantivo
