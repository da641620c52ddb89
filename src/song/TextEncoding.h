#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cantivo {

// Texts from files other programs wrote: UTF-8 inside the program, whatever came in.

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view text);
// Each byte as the Windows-1252 character it stands for; the five bytes that code page leaves
// undefined are kept as the C1 controls of the same number.
std::string Windows1252ToUtf8(std::string_view text);
// The text as stored by a program that knew nothing of UTF-8: kept when it is UTF-8, else Windows-1252.
std::string LegacyTextToUtf8(std::string_view text);
// Little-endian UTF-16 code units; a lone surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(std::span<const uint8_t> units);

} // namespace cantivo
