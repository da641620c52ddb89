#include "song/ArchiveBytes.h"

#include "song/TextEncoding.h"

#include <string_view>

namespace cantivo {

uint32_t ArchiveReader::Take(int size)
{
    uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value |= static_cast<uint32_t>(bytes_[at_++]) << (8 * i);
    return value;
}

std::span<const uint8_t> ArchiveReader::Bytes(size_t count)
{
    const std::span<const uint8_t> taken = bytes_.subspan(at_, count);
    at_ += count;
    return taken;
}

bool ArchiveReader::CountedString(std::string& text)
{
    if (!Left(1))
        return false;
    uint64_t length = Take(1);
    bool wide = false;
    if (length == 0xFF) {
        if (!Left(2))
            return false;
        length = Take(2);
        if (length == 0xFFFE) {
            // The wide form: the mark, then a length of its own, counted in UTF-16 units.
            wide = true;
            if (!Left(1))
                return false;
            length = Take(1);
            if (length == 0xFF) {
                if (!Left(2))
                    return false;
                length = Take(2);
                if (length == 0xFFFF) {
                    if (!Left(4))
                        return false;
                    length = Take(4);
                }
            }
            length *= 2;
        } else if (length == 0xFFFF) {
            if (!Left(4))
                return false;
            length = Take(4);
        }
    }
    if (!Left(length))
        return false;
    const std::span<const uint8_t> raw = Bytes(static_cast<size_t>(length));
    text = wide ? Utf16LeToUtf8(raw)
                : LegacyTextToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
    return true;
}

void PutArchiveNumber(std::vector<uint8_t>& out, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutCountedString(std::vector<uint8_t>& out, const std::string& text)
{
    const size_t length = text.size();
    if (length < 0xFF) {
        PutArchiveNumber(out, static_cast<uint32_t>(length), 1);
    } else if (length < 0xFFFE) {
        PutArchiveNumber(out, 0xFF, 1);
        PutArchiveNumber(out, static_cast<uint32_t>(length), 2);
    } else {
        PutArchiveNumber(out, 0xFF, 1);
        PutArchiveNumber(out, 0xFFFF, 2);
        PutArchiveNumber(out, static_cast<uint32_t>(length), 4);
    }
    out.insert(out.end(), text.begin(), text.end());
}

} // namespace cantivo
