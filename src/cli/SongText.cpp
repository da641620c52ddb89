#include "cli/SongText.h"

#include "song/Cue.h"

#include "song/Song.h"
#include "song/SongEvent.h"

#include <cstdio>

namespace cantivo {

std::string KeyName(int key, int mode)
{
    static constexpr const char* Major[] = {"Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C",
                                            "G",  "D",  "A",  "E",  "B",  "F#", "C#"};
    static constexpr const char* Minor[] = {"Ab", "Eb", "Bb", "F",  "C",  "G",  "D", "A",
                                            "E",  "B",  "F#", "C#", "G#", "D#", "A#"};
    if (key < -7 || key > 7)
        return "key " + std::to_string(key);
    return std::string(mode == 1 ? Minor[key + 7] : Major[key + 7]) + (mode == 1 ? " minor" : " major");
}

std::string HexText(const uint8_t* bytes, size_t size)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    if (!bytes)
        return text;
    text.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i > 0)
            text += ' ';
        text += Digits[bytes[i] >> 4];
        text += Digits[bytes[i] & 15];
    }
    return text;
}

std::string MetaTypeName(uint8_t type)
{
    switch (type) {
    case 0x00:
        return "sequence number";
    case 0x01:
        return "text";
    case 0x02:
        return "copyright";
    case 0x03:
        return "track name";
    case 0x04:
        return "instrument";
    case 0x05:
        return "lyric";
    case 0x06:
        return "marker";
    case 0x07:
        return "cue point";
    case 0x20:
        return "channel prefix";
    case 0x21:
        return "port";
    case 0x51:
        return "tempo";
    case 0x54:
        return "SMPTE offset";
    case 0x58:
        return "time signature";
    case 0x59:
        return "key signature";
    case 0x7F:
        return "sequencer specific";
    default: {
        char text[16];
        std::snprintf(text, sizeof text, "meta 0x%02X", type);
        return text;
    }
    }
}

std::string EventKindWord(const SongEvent& event)
{
    if (event.IsAudioClip())
        return "audio clip";
    if (event.IsMeta())
        return MetaTypeName(event.Data1());
    switch (event.Status()) {
    case StatusRpn:
        return "RPN";
    case StatusNrpn:
        return "NRPN";
    case 0xF0:
        return "sysex";
    default:
        break;
    }
    switch (event.Type()) {
    case 0x90:
        return "note";
    case 0xA0:
        return "key pressure";
    case 0xB0:
        return "controller";
    case 0xC0:
        return "program";
    case 0xD0:
        return "channel pressure";
    case 0xE0:
        return "pitch wheel";
    default: {
        char text[16];
        std::snprintf(text, sizeof text, "status 0x%02X", event.Status());
        return text;
    }
    }
}

std::string PlainKindName(int kind)
{
    std::string name = CueKindName(kind);
    for (size_t at = name.find("&&"); at != std::string::npos; at = name.find("&&", at + 1))
        name.erase(at, 1);
    return name;
}

} // namespace cantivo
