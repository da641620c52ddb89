#pragma once

#include "song/PositionText.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace cantivo {

class Song;
class SongEvent;

// Texts the subcommands share.

// "G major", "E minor" for a key signature (−7 to 7) and mode; "key N" outside that range.
std::string KeyName(int key, int mode);
// Upper-case hexadecimal bytes separated by blanks ("F0 7E 7F F7"); "" for none.
std::string HexText(const uint8_t* bytes, size_t size);
// The name of a meta event type ("lyric", "marker", "meta 0x60").
std::string MetaTypeName(uint8_t type);
// A cue kind's name as a terminal shows it: the doubled '&' of a menu text becomes one ("Hold & Cut").
std::string PlainKindName(int kind);
// The kind of an event as a short word: "note", "controller", "RPN", "sysex", "lyric", ...
std::string EventKindWord(const SongEvent& event);

} // namespace cantivo
