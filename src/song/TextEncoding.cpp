#include "song/TextEncoding.h"

namespace cantivo {

namespace {

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// 0x80 to 0x9F of Windows-1252; 0 where the code page defines nothing.
constexpr char16_t High1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                   0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<uint8_t>(text[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        char32_t c = 0;
        if ((byte & 0xE0) == 0xC0) {
            length = 2;
            c = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
            c = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
            c = byte & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(length) > text.size())
            return false;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = c << 6 | (next & 0x3F);
        }
        const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += static_cast<size_t>(length);
    }
    return true;
}

std::string Windows1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto byte = static_cast<uint8_t>(ch);
        if (byte >= 0x80 && byte < 0xA0 && High1252[byte - 0x80] != 0)
            AppendUtf8(out, High1252[byte - 0x80]);
        else
            AppendUtf8(out, byte);
    }
    return out;
}

std::string LegacyTextToUtf8(std::string_view text)
{
    return IsValidUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
}

std::string Utf16LeToUtf8(std::span<const uint8_t> units)
{
    std::string out;
    const size_t count = units.size() / 2;
    for (size_t i = 0; i < count; ++i) {
        const char32_t unit = units[2 * i] | static_cast<char32_t>(units[2 * i + 1]) << 8;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
            const char32_t low = units[2 * i + 2] | static_cast<char32_t>(units[2 * i + 3]) << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    }
    return out;
}

} // namespace cantivo
